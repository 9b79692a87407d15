/*
 * Firmware-like C for the benchmark's "ARM code" drivers: compiled for
 * ARM with gcc-arm-none-eabi, its machine code fills the .data section as
 * a modem's firmware does.  It is never run.
 */
#include <stdint.h>

#define REG(a) (*(volatile uint32_t *)(a))

struct cell {
	uint8_t header[5];
	uint8_t payload[48];
};

struct ring {
	uint32_t head, tail, mask;
	struct cell *cells;
};

static uint32_t crc_table[256];

void crc32_init(void)
{
	for (uint32_t i = 0; i < 256; i++) {
		uint32_t c = i;
		for (int k = 0; k < 8; k++)
			c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
		crc_table[i] = c;
	}
}

uint32_t crc32(const uint8_t *p, uint32_t n)
{
	uint32_t c = 0xffffffffu;
	while (n--)
		c = crc_table[(c ^ *p++) & 0xff] ^ (c >> 8);
	return c ^ 0xffffffffu;
}

uint8_t hec(const uint8_t *h)
{
	uint8_t crc = 0;
	for (int i = 0; i < 4; i++) {
		crc ^= h[i];
		for (int k = 0; k < 8; k++)
			crc = crc & 0x80 ? (uint8_t)(crc << 1 ^ 0x07) : crc << 1;
	}
	return crc ^ 0x55;
}

int ring_put(struct ring *r, const struct cell *c)
{
	if (r->head - r->tail > r->mask)
		return -1;
	r->cells[r->head++ & r->mask] = *c;
	return 0;
}

int ring_get(struct ring *r, struct cell *c)
{
	if (r->head == r->tail)
		return -1;
	*c = r->cells[r->tail++ & r->mask];
	return 0;
}

void fir(const int16_t *x, const int16_t *h, int32_t *y, int n, int taps)
{
	for (int i = 0; i < n; i++) {
		int32_t acc = 0;
		for (int k = 0; k < taps; k++)
			acc += x[i + k] * h[k];
		y[i] = acc >> 15;
	}
}

void fft_butterfly(int32_t *re, int32_t *im, int n, const int16_t *tw)
{
	for (int len = 2; len <= n; len <<= 1)
		for (int i = 0; i < n; i += len)
			for (int j = 0; j < len / 2; j++) {
				int32_t wr = tw[j * n / len], wi = tw[j * n / len + 1];
				int a = i + j, b = a + len / 2;
				int32_t tr = (re[b] * wr - im[b] * wi) >> 15;
				int32_t ti = (re[b] * wi + im[b] * wr) >> 15;
				re[b] = re[a] - tr;
				im[b] = im[a] - ti;
				re[a] += tr;
				im[a] += ti;
			}
}

enum link_state { DOWN, TRAINING, SYNC, UP };

enum link_state link_step(enum link_state s, uint32_t status)
{
	switch (s) {
	case DOWN:
		REG(0x40000010) = 1;
		return status & 1 ? TRAINING : DOWN;
	case TRAINING:
		if (status & 0x100)
			return DOWN;
		return status & 2 ? SYNC : TRAINING;
	case SYNC:
		REG(0x40000014) = status >> 4;
		return status & 4 ? UP : SYNC;
	default:
		return status & 8 ? DOWN : UP;
	}
}

int format_hex(char *out, uint32_t v)
{
	static const char digits[] = "0123456789abcdef";
	int n = 0;
	for (int shift = 28; shift >= 0; shift -= 4)
		if (n || (v >> shift) & 0xf || shift == 0)
			out[n++] = digits[(v >> shift) & 0xf];
	out[n] = 0;
	return n;
}

void poll_loop(struct ring *rx, struct ring *tx)
{
	enum link_state s = DOWN;
	struct cell c;
	for (;;) {
		s = link_step(s, REG(0x40000000));
		if (s != UP)
			continue;
		while (ring_get(rx, &c) == 0) {
			if (hec(c.header) != c.header[4])
				continue;
			REG(0x40000020) = crc32(c.payload, sizeof(c.payload));
			ring_put(tx, &c);
		}
	}
}
