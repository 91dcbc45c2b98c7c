#!/bin/sh
# The SDK reaches the operating system only through sdk/os/: no other file of
# sdk/ includes a system header of POSIX, Linux or Windows, or calls such a
# function. Lists every offending line and fails when there is one.
#
# seam_check.sh SDK_DIR
set -eu

sdk=${1:?usage: seam_check.sh SDK_DIR}
[ -d "$sdk/os" ] || { echo "seam_check: $sdk is not the SDK's folder (no os/ in it)" >&2; exit 2; }

headers='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(sys/|netinet/|arpa/|net/|linux/|unistd\.h|ifaddrs\.h|pwd\.h|grp\.h|spawn\.h|poll\.h|fcntl\.h|signal\.h|dlfcn\.h|dirent\.h|netdb\.h|termios\.h|pthread\.h|sched\.h|windows\.h|winsock2?\.h|ws2tcpip\.h|iphlpapi\.h|afunix\.h)'
# Calls made by name only here; the common names (close, send, poll) only
# when called at global scope, as the system's are.
calls='(^|[^[:alnum:]_])(getifaddrs|freeifaddrs|posix_spawn[[:alnum:]_]*|epoll_[[:alnum:]_]+|getpw[[:alnum:]_]+|setsockopt|getsockopt|recvfrom|sendto|recvmmsg|sendmmsg|waitpid|dladdr|readlink|opendir|readdir|geteuid|getuid|getpid|inet_pton|inet_ntop|accept4|WSA[[:alnum:]_]+)[[:space:]]*\(|(^|[^[:alnum:]_])::(socket|bind|connect|listen|accept|recv|send|close|read|write|poll|kill|stat|lstat|fstat|mkdir|unlink|chmod|fchmod|fcntl|shutdown|access|pipe|fork)[[:space:]]*\('
types='(^|[^[:alnum:]_])(pid_t|uid_t|gid_t|dev_t|ino_t|socklen_t|ssize_t|sockaddr[[:alnum:]_]*|SOCKET|HANDLE)([^[:alnum:]_]|$)'

offenders=$(find "$sdk" -path "$sdk/os" -prune -o -type f \( -name '*.h' -o -name '*.cpp' \) -print |
    sort | xargs grep -nHE "$headers|$calls|$types" | grep -vE '^[^:]+:[0-9]+:[[:space:]]*//' || true)

if [ -n "$offenders" ]; then
    echo "These files of the SDK reach the operating system outside sdk/os/ (see sdk/os/README.md):"
    echo "$offenders"
    exit 1
fi
echo "sdk/: the operating system is reached through sdk/os/ only"
