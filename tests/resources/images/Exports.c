// Exports only: arithmetic, data reached through an absolute pointer (so the
// image needs base relocations) and per-copy state. No imports, no entry point.

static const char greeting[] = "hello from the image";
const char* greetingTable[] = {greeting}; // absolute address in data: relocated
static int counter = 0;                   // one per mapped copy

__declspec(dllexport) int AddNumbers(int a, int b) { return a + b; }

__declspec(dllexport) const char* GetGreeting(void) { return greetingTable[0]; }

__declspec(dllexport) int BumpCounter(void) { return ++counter; }

__declspec(dllexport) int MixedCaseName(void) { return 42; }
