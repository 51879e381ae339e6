#pragma once
// plat::Configuration: a named registry of configuration parameters,
// searched by name ignoring case.  Parameters link themselves in on
// construction (newest first) and stay registered; the configuration owns
// only the parameters handed to it (the copies made by clone), never the
// static parameter objects that components declare.
//
// The process-wide instance, global(), holds every parameter whose
// declarer did not name another.  It is made on first use (by the first
// parameter's static initialiser) and never destroyed, so code that still
// logs at exit finds it.

#include <memory>
#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace plat {

class ConfigParameter;

class Configuration {
 public:
  // `titleKey` is the localisation key of the help heading (may be null).
  explicit Configuration(const char* name, const char* titleKey = nullptr);
  Configuration(const Configuration&) = delete;
  Configuration& operator=(const Configuration&) = delete;
  // Deletes the parameters this configuration owns.
  ~Configuration();

  static Configuration& global();

  const char* getName() const noexcept { return name_.get(); }
  const char* getTitleKey() const noexcept { return titleKey_.get(); }
  // The newest parameter; follow ConfigParameter::getNext for the rest.
  ConfigParameter* firstParam() const noexcept { return params_; }

  // Whether the parameters log their changes (on from construction).
  bool logChanges() const noexcept { return logChanges_; }
  void setLogChanges(bool on) noexcept { logChanges_ = on; }

  // The parameter of that name (ignoring case), or null.
  ConfigParameter* findParam(const char* name) const noexcept;
  // Sets the named parameter from text; false when there is no such
  // parameter or it refuses the text.
  bool setParam(const char* name, const char* text, int priority);

 private:
  friend class ConfigParameter;

  // Puts a parameter at the head of the list and returns the old head.
  ConfigParameter* link(ConfigParameter* param) noexcept;
  // Takes ownership of a parameter already linked here.
  void own(std::unique_ptr<ConfigParameter> param);

  CharArray name_;
  CharArray titleKey_;
  ConfigParameter* params_ = nullptr;
  std::vector<std::unique_ptr<ConfigParameter>> owned_;
  bool logChanges_ = true;
};

}  // namespace plat
