// The kernels that read plain score text many bytes at a time, one for
// each instruction set, in files of their own: text_kernel_scalar.h (every
// build), text_kernel_sse2.h (sixteen bytes in SSE2, every x86-64 build and
// the WebAssembly one) and text_kernel_avx2.h with the passes' wide steps
// (32 bytes in AVX2, x86-64 builds with GCC or clang). The program takes the
// best the processor has, chosen once when it first asks; a score reader
// names the kernel its passes take, so that tests can run each by name.
#pragma once

#include <cstddef>

// The AVX2 kernel is built where the compiler can build code for AVX2 and
// POPCNT beside the program's own; not in the scalar twins' build.
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__) && !defined(SCORE2WAV_NO_CLONES)
#define SCORE2WAV_AVX2_KERNEL 1
#define SCORE2WAV_WIDE __attribute__((target("avx2,popcnt")))
#else
#define SCORE2WAV_AVX2_KERNEL 0
#endif

enum class TextKernel {
  scalar,  // a byte at a time, by the note grammar's classes
  sse2,    // sixteen bytes at a time
  avx2,    // SSE2's steps, and 32 bytes at a time where plain text runs on
};

constexpr TextKernel allTextKernels[] = {TextKernel::scalar, TextKernel::sse2, TextKernel::avx2};

// Returns the kernel's name: "scalar", "sse2" or "avx2".
const char* textKernelName(TextKernel kernel);

// True if this build has the kernel and the processor running it can take it.
bool textKernelAvailable(TextKernel kernel);

// Returns the best kernel available, chosen once.
TextKernel chosenTextKernel();

// Converts the run of ASCII units that begins count UTF-16 units at units
// (little-endian if little) to bytes at out, as many at a time as the
// kernel takes, while whole steps remain; returns how many it took.
std::size_t asciiUnits(TextKernel kernel, const unsigned char* units, std::size_t count,
                       bool little, unsigned char* out);
