// The page's way into the conversion core: C functions the page's script
// calls on the WebAssembly module. A conversion's results stay in the
// module's memory until the script has copied them and released them.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <new>
#include <string>

#include "driver/conversion.h"
#include "driver/output_path.h"

namespace {

struct PageConversion {
  MemoryConversion conversion;
  std::string outputName;  // where the console program would write the WAV
};

}  // namespace

extern "C" {

// Converts size bytes of the score named name, whose WAV may take at most
// wavLimit bytes of the page's memory. Returns the results, or null if
// there is no memory even for them.
EMSCRIPTEN_KEEPALIVE PageConversion* score2wavConvert(const unsigned char* bytes, std::size_t size,
                                                      const char* name, double wavLimit) {
  auto* page = new (std::nothrow) PageConversion;
  if (page == nullptr) return nullptr;
  convertMemory(bytes, size, name, page->conversion, static_cast<std::size_t>(wavLimit));
  page->outputName = makeOutputName(name);
  return page;
}

// The WAV's bytes (none when the conversion failed), and their count.
EMSCRIPTEN_KEEPALIVE const unsigned char* score2wavWav(const PageConversion* page) {
  return page->conversion.wav.bytes;
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavWavSize(const PageConversion* page) {
  return page->conversion.wav.size;
}

// Standard output and standard error as the console program would print them.
EMSCRIPTEN_KEEPALIVE const char* score2wavOut(const PageConversion* page) {
  return page->conversion.out.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavOutSize(const PageConversion* page) {
  return page->conversion.out.size();
}
EMSCRIPTEN_KEEPALIVE const char* score2wavErr(const PageConversion* page) {
  return page->conversion.err.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t score2wavErrSize(const PageConversion* page) {
  return page->conversion.err.size();
}

// The exit status the console program would end with.
EMSCRIPTEN_KEEPALIVE int score2wavStatus(const PageConversion* page) {
  return exitStatus(page->conversion.outcome.failure);
}

// The output-path rule applied to the score's name (NUL-terminated).
EMSCRIPTEN_KEEPALIVE const char* score2wavOutputName(const PageConversion* page) {
  return page->outputName.c_str();
}

EMSCRIPTEN_KEEPALIVE void score2wavRelease(PageConversion* page) { delete page; }

}  // extern "C"
