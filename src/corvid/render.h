// The whole frame, built from app_state into a buffer.
#pragma once

#include "platform.h"

void render_frame(struct sbuf *sb);
