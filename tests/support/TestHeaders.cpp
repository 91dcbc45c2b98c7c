// Owns the test programs' precompiled GoogleTest headers: compiled once per
// build and reused by every test program (cmake/Testing.cmake).
int main() {
    return 0;
}
