// digest/md5_lanes.h: which MD5 kernel digests several messages side by side,
// and the eight-lane AVX2 and sixteen-lane AVX-512 kernels themselves.
//
// MD5 is one serial chain per message, so a core goes faster only by
// hashing several messages at once: two scalar chains interleaved fill a
// core's integer units, AVX2 runs eight chains in the eight 32-bit lanes of a
// vector register and AVX-512 sixteen. The choice is made at run time from
// the CPU, so one build runs on CPUs with and without either.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brevick {

// The kernels by the number of messages each digests at once.
enum class Md5Kernel {
  kScalar = 1,    // one chain: a message alone
  kTwoLanes = 2,  // two scalar chains interleaved
  kAvx2 = 8,      // eight chains in AVX2 registers
  kAvx512 = 16,   // sixteen chains in AVX-512 registers
};

inline constexpr int kMd5MaxLanes = 16;

inline constexpr int LaneCount(Md5Kernel kernel) { return static_cast<int>(kernel); }

// Whether this CPU (and its operating system) runs AVX2 code.
bool CpuHasAvx2();
// Whether this CPU (and its operating system) runs AVX-512 F code.
bool CpuHasAvx512();

// The widest kernel this CPU runs, unless BREVICK_MD5_LANES (1, 2, 8 or 16)
// asks for another; a request for a kernel the CPU lacks gets the widest it
// has. "plain" asks for what a CPU without AVX2 and SHA extensions runs: two
// lanes here, and SHA-256 by OpenSSL (UseOwnSha256). The environment is read on every call, so
// tests can switch paths in-process.
Md5Kernel ChosenMd5Kernel();

// Runs the compression function over `blockCount` whole 64-byte blocks of
// eight messages at once: message i's state is states[i], its blocks start
// at blocks[i]. Only to be called where CpuHasAvx2().
void CompressEightLanesAvx2(std::uint32_t (*states)[4], const std::uint8_t* const* blocks,
                            std::size_t blockCount);

// The same for sixteen messages. Only to be called where CpuHasAvx512().
void CompressSixteenLanesAvx512(std::uint32_t (*states)[4], const std::uint8_t* const* blocks,
                                std::size_t blockCount);

}  // namespace brevick
