#include "recorder/zvcontroller.h"
