// Inside the live backend: what its main() asks of its video part.
#pragma once
#include <string>

// Opens SDL's video for the whole run; "" when its driver shows pictures,
// else why there is nowhere to show the show. The connection stays open, so
// that an X server that resets when its last client leaves keeps this one.
// A driver the user names that cannot open gives "" too, and is left to the
// show's own error handling.
std::string liveOpenDisplay();
