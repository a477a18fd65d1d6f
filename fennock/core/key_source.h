#pragma once

namespace fennock {

// Where the run's keys come from: the typed character, so that 'G' and 'g' differ.
class KeySource {
 public:
  virtual ~KeySource() = default;
  // Services the windows for about 1 ms and returns the character typed meanwhile (its code,
  // 'g' is 103 and 'G' is 71), or -1 when none was typed.
  virtual int waitKey() = 0;
};

}  // namespace fennock
