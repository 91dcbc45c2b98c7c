#include <stdexcept>

namespace {

__attribute__((noinline)) int fail(int value) {
    if (value > 0)
        throw std::runtime_error("thrown inside the image");
    return -1;
}

int throwAndCatch(int value) {
    try {
        return fail(value);
    } catch (const std::runtime_error&) {
        return value * 2;
    }
}

// Thrown and caught while the image's entry point runs its constructors.
const int atAttach = throwAndCatch(50);

} // namespace

extern "C" __declspec(dllexport) int CatchInside(int value) {
    return throwAndCatch(value);
}

extern "C" __declspec(dllexport) int CaughtAtAttach() {
    return atAttach;
}
