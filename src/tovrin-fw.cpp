#include "findfw.h"
#include "guard.h"

#include <argp.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <error.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

const char *argp_program_version = "002";
const char *argp_program_bug_address =
	"<tovrin-fw-general at lists dot example dot org>";

struct io_paths {
	const char *infile;
	const char *outfile;
};

static const char args_doc[] = "INFILE OUTFILE";
static const char doc[] =
	"Firmware extractor for Conexant AccessRunner ADSL USB modems\n"
	"INFILE - Windows driver file containing firmware (usually "
	"CnxEtU.sys)\n"
	"OUTFILE - firmware image (usually tovrin-fw.bin)";

static int
parse_opts(int key, char *arg, struct argp_state *state)
{
	auto *paths = static_cast<io_paths *>(state->input);

	switch (key) {
	case ARGP_KEY_ARG:
		if (state->arg_num == 0)
			paths->infile = arg;
		else if (state->arg_num == 1)
			paths->outfile = arg;
		else
			argp_usage(state);
		return 0;
	case ARGP_KEY_END:
		if (state->arg_num < 2)
			argp_usage(state);
		return 0;
	default:
		return ARGP_ERR_UNKNOWN;
	}
}

static const struct argp argp = {nullptr, parse_opts, args_doc, doc,
				 nullptr, nullptr,    nullptr};

// Writes all len bytes, however many calls that takes: one write() may
// stop short (a file-size limit, Linux's cap near 2 GiB).  Returns 0, or
// the errno of the call that failed.
static int
write_all(int fd, const unsigned char *p, size_t len)
{
	while (len > 0) {
		ssize_t n = write(fd, p, len);
		if (n < 0)
			return errno;
		if (n == 0) // a regular file that takes nothing: never spin
			return EIO;
		p += n;
		len -= static_cast<size_t>(n);
	}
	return 0;
}

int
main(int argc, char *argv[])
{
	io_paths paths = {nullptr, nullptr};
	error_t err = argp_parse(&argp, argc, argv, 0, nullptr, &paths);
	if (err != 0)
		error(argp_err_exit_status, err, "failed to parse arguments");

	int fd = open(paths.infile, O_RDONLY);
	if (fd < 0)
		error(1, errno, "failed to open `%s' for reading",
		      paths.infile);

	struct stat st;
	if (fstat(fd, &st) < 0)
		error(1, errno, "failed to obtain the size of `%s'",
		      paths.infile);
	// The locator takes a signed 32-bit size: refuse rather than cut a
	// larger file short.
	if (st.st_size > INT32_MAX)
		error(1, EOVERFLOW, "failed to obtain the size of `%s'",
		      paths.infile);
	const auto file_size = static_cast<int32_t>(st.st_size);

	void *map = mmap(nullptr, static_cast<size_t>(file_size), PROT_READ,
			 MAP_PRIVATE, fd, 0);
	// The mapping outlives the descriptor; keep mmap's reason, not
	// whatever close leaves in errno.
	const int map_errno = errno;
	close(fd);
	if (map == MAP_FAILED)
		error(1, map_errno, "failed to mmap `%s'", paths.infile);
	const auto *file_data = static_cast<const unsigned char *>(map);

	// A page of the driver lost under the mapping comes back here.
	if (sigsetjmp(input_lost, 1) != 0)
		error(1, EIO, "failed to mmap `%s'", paths.infile);
	catch_input_faults(map, static_cast<size_t>(file_size));
	uint32_t fw_size;
	const unsigned char *fw = findfw(file_data, file_size, &fw_size);
	if (fw == nullptr)
		error(1, 0, "can't find AccessRunner firmware in `%s'",
		      paths.infile);

	fd = create_output(paths.outfile);
	if (fd < 0)
		error(1, errno, "failed to open `%s' for writing",
		      paths.outfile);

	// A failed close reports write errors that were held back.  Either
	// way the file is ours (it was created exclusively) and incomplete:
	// remove it, or the modem's driver would load it and a retry would
	// refuse to overwrite it.
	err = write_all(fd, fw, fw_size);
	if (close(fd) < 0 && err == 0)
		err = errno;
	if (err != 0) {
		unlink(paths.outfile);
		// The kernel reports a lost page of the mapped driver as
		// EFAULT, after a short write: the input failed, not OUTFILE.
		if (err == EFAULT)
			error(1, EIO, "failed to mmap `%s'", paths.infile);
		error(1, err, "failed to write firmware to `%s'",
		      paths.outfile);
	}
	output_complete();

	munmap(map, static_cast<size_t>(file_size));
	printf("found firmware in `%s' at offset %#x\n", paths.infile,
	       static_cast<unsigned>(fw - file_data));
	return 0;
}
