#include "core/settings.h"

Settings& settings() {
  static Settings s;
  return s;
}
