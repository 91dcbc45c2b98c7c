#pragma once

#include <string>

// Puts the interface into firewalld's "home" zone through firewall-cmd, given
// at most a few seconds. Where firewalld does not run, or firewall-cmd is not
// installed, this fails quietly; that is the intended "nothing to do".
void putInterfaceIntoHomeZone(const std::string& interfaceName);
