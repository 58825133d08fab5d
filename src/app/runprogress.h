// TRunProgress: what a conversion run tells whoever shows it, and how it learns of a stop.
// The wizard's progress page and the command line's quiet sink both implement it; every
// notification does nothing unless overridden.
#pragma once

#include <string>

namespace glyphmill {

class TRunProgress {
public:
  virtual ~TRunProgress() = default;

  virtual void RunStarted(int /*sourceCount*/) {}
  // Source index (from 0) starts; processed already counts it.
  virtual void SourceStarted(int /*index*/, const std::string& /*sourceName*/, int /*processed*/) {}
  virtual void OutputChosen(const std::string& /*outputName*/) {}
  virtual void FileSaved(const std::string& /*fileName*/, int /*saved*/) {}
  // The icons of a multi-icon source: their count, then each index, then back to the start.
  virtual void IconsStarted(int /*count*/) {}
  virtual void IconStarted(int /*index*/, int /*count*/) {}
  virtual void IconsFinished() {}
  // One failure line, as it is added to the run's error list.
  virtual void FailureNoted(const std::string& /*line*/) {}
  // The run's points where a window would repaint and a Cancel click could arrive.
  virtual void ProcessMessages() {}
  // Polled after each source and each library icon; true stops the run there.
  virtual bool StopRequested() { return false; }
};

}  // namespace glyphmill
