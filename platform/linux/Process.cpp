#include "platform/Process.h"

bool isWow64Process() {
    return false;
}
