// The WZ library: every public header.
#pragma once

#include "wz/convert.h"
#include "wz/draw.h"
#include "wz/effects.h"
#include "wz/library.h"
#include "wz/model.h"
#include "wz/sound.h"
#include "wz/texture.h"
#include "wz/types.h"
#include "wz/version.h"
