// The deliverable: its exports come from the worker's part, linked in whole.
#include "views/worker.h"
