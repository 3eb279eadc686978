// network_job.h - one raw print job on a connected stream socket, within
// its limits.
//
// What the client sends is one job, fed to a print head of its own, so a
// job that sends junk or stops in the middle of a command leaves nothing
// behind for the next one. Status requests (DLE EOT n) are answered on the
// connection at once, and dropped, never waited for, if the client does not
// read them. The job ends when its sender closes, when it sends no print
// data for `idleTimeout` (status requests alone do not keep it), after
// `jobTimeout` in all, past `jobLimit` bytes, or once it has printed
// kMaxReceiptsPerJob receipts or kMaxPaperDotsPerJob of paper; or when the
// door stops: everything that has arrived is printed first. A limit that
// cut something off, or a stop while the job still arrives, shows in the
// transcript as "[NOTE job ended: <why>]" where the job stopped
// (VirtualPrinter::endJobAtLimit): a job of exactly 200 receipts, or one that only
// asks for the status past its limit, keeps its receipts and no note. Any
// other ending (the client's close, its silence, a reset) is named in the
// log line and in the warning of a
// receipt it leaves uncut.
//
// The socket may be of any family (TCP, a Unix-domain socket): only its
// reads and writes are used.
#pragma once

#include "emulator/door.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace it433td::tools {

// What a job may print. Paper is cheap to send and costly to store: 3 bytes
// feed 255 dots, 86 KB of dense condensed text fill 4 m of paper whose
// picture takes 3.2 MB, 3 bytes print and cut a receipt of two files. So the
// size limit alone does not bound what a job leaves on disk; these do: one
// roll of paper (a real printer would run out), and a number of receipts.
constexpr int kMaxReceiptsPerJob = 200;
constexpr long kMaxPaperDotsPerJob = 80L * 1000 * 8;  // 80 m at 8 dots a millimetre

struct JobLimits {
  std::chrono::milliseconds idleTimeout{10000};  // silence, before and during a job
  std::chrono::milliseconds jobTimeout{60000};   // a job's whole time at the printer
  std::uint64_t jobLimit = std::uint64_t{16} << 20;  // bytes a job may send
};

// Prints the job of `connection` (which stays open: the caller closes it)
// and logs one line: "network job from <peer>: <n> bytes, <how it ended>".
// Its receipts get `label`. `stopFd` becomes readable when the door stops
// (it may be already): what has arrived is then printed and the job ends.
void printNetworkJob(int connection, const std::string &peer, const std::string &label,
                     const JobLimits &limits, const DoorContext &context, int stopFd);

}  // namespace it433td::tools
