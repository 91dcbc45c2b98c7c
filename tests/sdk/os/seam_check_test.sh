#!/bin/sh
# The seam check catches what it is for: a copy of sdk/ with one offence of
# each kind planted outside os/ fails and names each offending line, while a
# method of the same name as a system call and everything inside os/ pass.
#
# seam_check_test.sh SEAM_CHECK
set -eu

check=${1:?usage: seam_check_test.sh SEAM_CHECK}
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT INT TERM
mkdir -p "$tree/sdk/os/linux" "$tree/sdk/transport"

fail() { echo "FAIL: $*"; exit 1; }

cat > "$tree/sdk/os/linux/Inside.cpp" <<'CODE'
#include <sys/socket.h>
#include <unistd.h>
int inside() { return ::close(::socket(0, 0, 0)); }
CODE
cat > "$tree/sdk/transport/Fine.cpp" <<'CODE'
#include <cstdlib>
// Not a call: getpid() in a comment.
void Transport::poll() { other.send(1); socket->close(); }
const char* home() { return std::getenv("HOME"); }
CODE
sh "$check" "$tree/sdk" > "$tree/out" || { cat "$tree/out"; fail "a clean tree was refused"; }

cat > "$tree/sdk/transport/Header.cpp" <<'CODE'
#include <netinet/in.h>
CODE
cat > "$tree/sdk/transport/Call.cpp" <<'CODE'
int user() { return geteuid(); }
CODE
cat > "$tree/sdk/transport/Global.cpp" <<'CODE'
void end(int fd) { ::close(fd); }
CODE
cat > "$tree/sdk/transport/Type.h" <<'CODE'
struct Child { pid_t pid; };
CODE
if sh "$check" "$tree/sdk" > "$tree/out"; then
    cat "$tree/out"
    fail "planted offences passed"
fi
for line in Header.cpp:1: Call.cpp:1: Global.cpp:1: Type.h:1:; do
    grep -q "/sdk/transport/$line" "$tree/out" || { cat "$tree/out"; fail "$line not listed"; }
done
if grep -qE 'Fine\.cpp|Inside\.cpp' "$tree/out"; then
    cat "$tree/out"
    fail "a line that is allowed was listed"
fi
echo "the seam check passes a clean tree and lists each planted offence"
