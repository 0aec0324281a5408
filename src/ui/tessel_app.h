// The application object: the one loaded disc that every pane and view reads, the source folder
// it came from and the last output folder.
#pragma once

#include <string>
#include <utility>

#include "model/bd_disc.h"

namespace tessel::ui {

class CTesselApp {
 public:
  CTesselApp() = default;
  CTesselApp(const CTesselApp&) = delete;
  CTesselApp& operator=(const CTesselApp&) = delete;

  CBDDisc& disc() { return disc_; }
  const CBDDisc& disc() const { return disc_; }
  // Whether the last open succeeded; a failed one leaves an empty disc.
  bool loaded() const { return loaded_; }

  // The folder the loaded (or last tried) disc came from, ending with '/'.
  const std::string& source_folder() const { return source_folder_; }
  const std::string& output_folder() const { return output_folder_; }
  void set_output_folder(std::string folder) { output_folder_ = std::move(folder); }

  // Loads the folder into the disc; on failure the disc is cleared. The disc reports its own
  // failures. Whoever shows the disc must have let go of it before calling this.
  bool Load(const std::string& folder);
  // Releases the loaded disc.
  void Unload();

 private:
  CBDDisc disc_;
  bool loaded_ = false;
  std::string source_folder_;
  std::string output_folder_;
};

}  // namespace tessel::ui
