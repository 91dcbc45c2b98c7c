#pragma once

// True when a 32-bit build runs on a 64-bit Windows (WOW64); always false on Linux.
bool isWow64Process();

// Programs this process starts (the SDK's client window, firewall-cmd) get
// none of its capabilities: a program given CAP_NET_ADMIN keeps it to itself.
// Clears the ambient and inheritable sets on Linux; nothing on Windows.
void keepCapabilitiesFromChildren();
