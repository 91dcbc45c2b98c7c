#pragma once

// The program's event identifiers; every other control uses wxID_ANY.
enum EventId {
    ID_HOST = 1,
    ID_JOIN = 2,
    ID_INVITE = 3,
    ID_STATUS_TIMER = 4,
    ID_SHOW_ADVANCED = 5,
};
