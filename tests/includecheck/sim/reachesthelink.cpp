#include "net/devicenetconnection.h"
