// An entry point and a TLS callback that report each call to the loading
// program; the entry point returns what the program tells it to.

typedef void(__stdcall* TlsCallback)(void* module, unsigned long reason, void* reserved);

__declspec(dllimport) int hostNoteEntry(void* module, unsigned long reason);
__declspec(dllimport) void hostNoteTls(void* module, unsigned long reason);

static void __stdcall onTls(void* module, unsigned long reason, void* reserved) {
    (void)reserved;
    hostNoteTls(module, reason);
}

// The TLS directory: the linker points the image's TLS entry at _tls_used.
static unsigned long tlsIndex;
static TlsCallback tlsCallbacks[] = {onTls, 0};
struct TlsDirectory {
    unsigned long long startOfRawData, endOfRawData, addressOfIndex, addressOfCallbacks;
    unsigned long sizeOfZeroFill, characteristics;
};
const struct TlsDirectory _tls_used = {0, 0, (unsigned long long)&tlsIndex,
                                       (unsigned long long)tlsCallbacks, 0, 0};

int __stdcall DllEntry(void* module, unsigned long reason, void* reserved) {
    (void)reserved;
    return hostNoteEntry(module, reason);
}

__declspec(dllexport) int Alive(void) { return 1; }
