// Imports from two made-up modules, by name and by ordinal; Compute calls
// each of them, so its result shows every import slot was filled.

__declspec(dllimport) int hostAdd(int a, int b);
__declspec(dllimport) int hostScale(int a);
__declspec(dllimport) int hostSecret(void); // imported by ordinal 7
__declspec(dllimport) int extraOffset(void);

__declspec(dllexport) int Compute(int x) {
    return hostAdd(hostScale(x), hostSecret()) + extraOffset();
}
