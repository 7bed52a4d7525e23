#include "driver/file_system.h"

ByteSource scoreSource(ScoreFile& score) {
  ByteSource source;
  source.context = &score;
  source.read = readScoreBytes;
  source.seek = seekScore;
  return source;
}

ByteSink temporarySink(TemporaryFile& temporary) {
  ByteSink sink;
  sink.context = &temporary;
  sink.write = writeTemporaryBytes;
  sink.finish = closeTemporaryFile;
  return sink;
}
