// What each key does on the main screen.
#pragma once

int handle_input(void *udata);
