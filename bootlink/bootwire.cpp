#include <bootwire/bootwire.h>
