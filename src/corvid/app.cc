#include "app.h"

int
corvid_main(int, char **)
{
	return 1;
}
