#include "app.h"

int
main(int argc, char **argv)
{
	return corvid_main(argc, argv);
}
