#include "guard.h"

#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

// A read error on the driver's medium, or the driver cut short while it is
// mapped, faults as SIGBUS when the search touches the lost page.  That is
// the input failing, not a bug: turn it into a clean failure.
sigjmp_buf input_lost;
static uintptr_t map_start, map_len;

static void
on_bus_error(int, siginfo_t *info, void *)
{
	if (reinterpret_cast<uintptr_t>(info->si_addr) - map_start < map_len)
		siglongjmp(input_lost, 1);
	// Not the driver's bytes: SA_RESETHAND lets the fault crash as a
	// bug should when it repeats.
}

void
catch_input_faults(const void *map, size_t len)
{
	map_start = reinterpret_cast<uintptr_t>(map);
	map_len = len;
	struct sigaction sa = {};
	sa.sa_sigaction = on_bus_error;
	sa.sa_flags = SA_SIGINFO | SA_RESETHAND;
	sigaction(SIGBUS, &sa, nullptr);
}

// While OUTFILE exists but is incomplete, a signal that ends the run must
// not leave a partial image for the modem's driver to load, and a
// file-size limit must fail the write rather than kill the process.
static const int ending_signals[] = {SIGHUP, SIGINT, SIGTERM, SIGXFSZ};
static struct sigaction saved_actions[std::size(ending_signals)];
static const char *volatile partial_output;

static void
on_ending_signal(int sig)
{
	if (partial_output != nullptr)
		unlink(partial_output);
	// SA_RESETHAND has put the default action back: end by this signal,
	// as the caller expects.
	raise(sig);
}

static void
guard_output()
{
	struct sigaction sa = {};
	sa.sa_handler = on_ending_signal;
	sa.sa_flags = SA_RESETHAND;
	sigfillset(&sa.sa_mask);
	for (size_t i = 0; i < std::size(ending_signals); i++) {
		const int sig = ending_signals[i];
		sigaction(sig, nullptr, &saved_actions[i]);
		if (saved_actions[i].sa_handler == SIG_IGN)
			continue; // what the caller ignores stays ignored
		// A file-size limit then fails the write with EFBIG.
		struct sigaction act = sa;
		if (sig == SIGXFSZ)
			act.sa_handler = SIG_IGN;
		sigaction(sig, &act, nullptr);
	}
}

void
output_complete()
{
	partial_output = nullptr;
	for (size_t i = 0; i < std::size(ending_signals); i++)
		sigaction(ending_signals[i], &saved_actions[i], nullptr);
}

// Creates path exclusively; from the moment it exists, the signal
// handlers know to remove it.
int
create_output(const char *path)
{
	sigset_t block, old;
	sigemptyset(&block);
	for (int sig : ending_signals)
		sigaddset(&block, sig);
	guard_output();
	sigprocmask(SIG_BLOCK, &block, &old);
	int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
	if (fd >= 0)
		partial_output = path;
	sigprocmask(SIG_SETMASK, &old, nullptr);
	return fd;
}
