#pragma once

class Vpn;

// The worker thread's procedure for one run: creates the SDK core, takes part
// in the lobby and moves packets until the run is stopped. Reports only
// through the Vpn; never throws.
void NetworkWorker(Vpn* vpn);
