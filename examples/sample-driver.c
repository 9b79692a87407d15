/*
 * A stand-in for the modem's Windows driver, CnxEtU.sys: a small PE32
 * driver whose initialised .data carries a made-up firmware image the way
 * the real one does, behind other data and ahead of the code that follows
 * it on the modem.  It runs nothing; it is test data and a sample.
 *
 * Rebuild with ./build.sh beside this file (needs gcc-mingw-w64-i686).
 */
#include <stdint.h>

/* ARM instruction words, stored little-endian as on the modem. */
#define FWSTART 0xe59f241c, 0xe3a01000, 0xe5821000, 0xeb000022
#define BPSTART 0xe59f2078, 0xe3a01001, 0xe5821000, 0xe59f2070

/* One object, so that the linker keeps the pieces in this order. */
struct driver_data {
	char banner[112];
	uint32_t settings[12];
	uint32_t firmware[1100]; /* the rest of the image is zeros */
	uint32_t after[20];
	char trailer[32];
};

struct driver_data cnx_data = {
	"Sample AccessRunner driver data, not for use",
	{0x00000001, 0x00000000, 0x0000a5a5, 0x00001000, 0x00000040,
	 0x00000000, 0x00000000, 0xffffffff, 0x00000010, 0x00000000},
	{
		FWSTART,
		/* a made-up image body: a loop that pokes a register */
		0xe3a00000, 0xe59f1054, 0xe5810000, 0xe2800001, 0xe3500c01,
		0x1afffffb, 0xe59f2048, 0xe5923000, 0xe3130001, 0x0afffffc,
		0xe59f003c, 0xe5900000, 0xe1a0f00e, 0xe92d4010, 0xe1a04000,
		0xebfffff0, 0xe3540000, 0x1afffffc, 0xe8bd8010, 0xe1a00000,
		0xe1a00000, 0xe1a00000, 0xeafffffe, 0x00400000, 0x00400004,
		0x00400008, 0x12345678, 0x9abcdef0, 0x0000ffff, 0x00000000,
		0x00000000, 0x00000000, 0x5a5a5a5a, 0x00000003, 0x00000000,
		0x00000000, 0x00000000, 0x00000000, 0x00000000, 0x00000000,
		0x00000000, 0x00000000, 0x00000000, 0x00000000,
	},
	{
		BPSTART,
		0xe3a00001, 0xe12fff1e, 0x00400010, 0x00000000,
	},
	"end of sample driver data",
};

int __stdcall DriverEntry(void *driver, void *registry_path)
{
	(void)driver;
	(void)registry_path;
	return cnx_data.settings[0] ? 0 : -1;
}
