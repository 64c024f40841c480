// Everything of the media framework stand-in's declarations, as one include.
#pragma once

#include "platform/media/automation.h"
#include "platform/media/codes.h"
#include "platform/media/filters.h"
#include "platform/media/graph.h"
#include "platform/media/guids.h"
#include "platform/media/streaming.h"
#include "platform/media/structs.h"
