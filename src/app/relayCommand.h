// The command line's --relays: every relay of relays.conf, tested.
#pragma once

#include <QString>

// Lists the relays and tests each (as many at once as the relays' bound allows); the text, or JSON, goes to
// out, problems of the file to err. Exit code 0 when every relay answered with a wake tool, 1 otherwise (also
// for no relays at all). Needs the application object; runs an event loop of its own while the tests run (no
// window exists).
int RunRelaysCommand(bool json, QString* out, QString* err);
