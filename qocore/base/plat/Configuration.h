#pragma once
// plat::Configuration: a named registry of configuration parameters with
// child groups and parameter aliases, searched by name ignoring case.
// Parameters link themselves in on construction (newest first) and stay
// registered; the configuration owns only the parameters it made itself
// (the add operations and the copies made by clone), never the static
// parameter objects that components declare.
//
// The process-wide instance, global(), holds every parameter whose
// declarer did not name another.  It is made on first use (by the first
// parameter's static initialiser) and never destroyed, so code that still
// logs at exit finds it.
//
// The command line arrives here as well: each word becomes a parameter
// setting at preference priority (see parseArgs for the accepted forms).
//
// Main thread only; no locks.

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"

namespace plat {

class ConfigParameter;
class BoolParameter;
class IntParameter;
class StringParameter;
class EnumParameter;
class BinaryParameter;
class S64Parameter;
class Configuration;
class ParamDescription;

// Another name for one or more parameters: setting the alias sets every
// target.  Registered in a configuration (the global one unless given) on
// construction; the configuration does not own it.
class ParameterAlias {
 public:
  // An alias of one existing parameter.
  ParameterAlias(const char* name, const ConfigParameter& target, Configuration* conf = nullptr);
  // An alias of up to three parameters by name; null targets are skipped.
  ParameterAlias(const char* name, const char* target1, const char* target2 = nullptr, const char* target3 = nullptr,
                 Configuration* conf = nullptr);
  ParameterAlias(const ParameterAlias&) = delete;
  ParameterAlias& operator=(const ParameterAlias&) = delete;
  // Leaves the configuration it registered in.
  virtual ~ParameterAlias();

  // Writes the value under every target name into `out` (a later target of
  // the same name replaces the text); the value may be null.  False refuses
  // the setting.
  virtual bool expand(const char* name, const char* value, CaseMap& out);

  const char* getName() const noexcept { return name_.get(); }
  const CharArrayList& getTargets() const noexcept { return targets_; }

 private:
  CharArray name_;
  CharArrayList targets_;
  Configuration* conf_;
};

// An unknown or refused command-line word; the type name is
// "BadCmdLineArg".
class BadCmdLineArg : public Exception {
 public:
  explicit BadCmdLineArg(const char* message) noexcept;
};

class Configuration {
 public:
  // Called for a help request on the command line: mode 0 ordinary help,
  // 1 all parameters, 2 the configuration as XML.
  using UsageCallback = void (*)(int mode, Configuration& conf);

  static constexpr int kUsageNormal = 0;
  static constexpr int kUsageAll = 1;
  static constexpr int kUsageXml = 2;

  // `titleKey` is the localisation key of the help heading (may be null).
  explicit Configuration(const char* name, const char* titleKey = nullptr);
  // Copies name, title key and aliases and clones every parameter of this
  // configuration's own list, values included, in the same order.  The
  // aliases are shared (an alias sets the parameters of whichever
  // configuration it is used through), so they must outlive the copy.
  // Child configurations are not copied.
  Configuration(const Configuration& other);
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

  // Child configurations are not owned and are searched in the order they
  // were added.  Adding one already present does nothing.
  void addChild(Configuration* child);
  void removeChild(Configuration* child);
  const std::vector<Configuration*>& children() const noexcept { return children_; }

  // Aliases register themselves; these are for ParameterAlias.
  void addAlias(ParameterAlias* alias);
  void removeAlias(ParameterAlias* alias) noexcept;
  ParameterAlias* findAlias(const char* name) const noexcept;

  // Parameters made, registered and owned here.  Names, descriptions,
  // flags and enum names are copied, so they may be transient text.
  BoolParameter* addBool(const char* name, ParamDescription desc, bool def, bool hidden = false,
                         const char* flags = nullptr);
  IntParameter* addInt(const char* name, ParamDescription desc, int def, int minValue, int maxValue,
                       bool hidden = false, const char* flags = nullptr);
  StringParameter* addString(const char* name, ParamDescription desc, const char* def, bool hidden = false,
                             const char* flags = nullptr);
  EnumParameter* addEnum(const char* name, ParamDescription desc, const char* def, const char* const* names,
                         bool hidden = false, const char* flags = nullptr);
  BinaryParameter* addBinary(const char* name, ParamDescription desc, int count, const unsigned char* bytes,
                             bool hidden = false, const char* flags = nullptr);
  S64Parameter* addS64(const char* name, ParamDescription desc, int64_t def, bool hidden = false,
                       const char* flags = nullptr);

  // The parameter of that name (ignoring case), or null: this
  // configuration's own list first, then, when recursive, each child in
  // order, depth first.
  ConfigParameter* findParam(const char* name, bool recursive = true) const noexcept;
  // Like findParam with recursion; a missing name throws "Parameter %s not
  // found".  The typed forms assert that the parameter has that type.
  ConfigParameter& getParamChecked(const char* name) const;
  BoolParameter& getBoolParam(const char* name) const;
  IntParameter& getIntParam(const char* name) const;
  StringParameter& getStringParam(const char* name) const;
  EnumParameter& getEnumParam(const char* name) const;
  BinaryParameter& getBinaryParam(const char* name) const;
  S64Parameter& getS64Param(const char* name) const;
  // The bool value in force, or `def` when there is no such parameter.
  bool getBool(const char* name, bool def) const;

  // Sets the named parameter (or every target of an alias of that name)
  // from text.  Searches this configuration's own list, then the children
  // in order; false when nothing took the text.
  [[nodiscard]] bool setParam(const char* name, const char* text, int priority);
  [[nodiscard]] bool setParam(const char* name, int nameLen, const char* text, int priority);

  // One command-line word: "-Name", "--Name", "-Name=Value",
  // "--Name=Value" or "Name=Value".  A hyphen form without "=" passes a
  // null value, which only a bool takes (as true).
  [[nodiscard]] bool setFromArg(const char* word, int priority);
  // Parses the null-terminated word list at `argv` (the words after the
  // program name) at preference priority.  Accepts what setFromArg accepts,
  // the two words "-Name Value" and skips "-psn_" words.  True when every
  // word was taken; otherwise `argv` is left at the word that was not, and
  // when that word asks for help and a callback is given, the callback is
  // called first (mode from the next word: "all" or "xml").
  [[nodiscard]] bool parseArgs(const char* const*& argv, UsageCallback usage);
  // parseArgs over a program's argv (the first word is the program name);
  // a word that was not taken throws BadCmdLineArg.
  void parseCommandLine(const char* const* argv, UsageCallback usage);
  // "-help", "--help", "-h" or "/?", ignoring case.
  static bool isHelpArg(const char* word) noexcept;

  // Writes the help of this configuration and its children: a heading,
  // then one entry per parameter sorted by name, wrapped at `width` with
  // continuation lines indented by nameWidth + 5.  Names beginning with "_"
  // are never listed; hidden and binary parameters only with `all`.
  void printHelp(bool all, bool showDefaults, FILE* out, int width, int nameWidth) const;
  // The usage heading, the help at width 79 and, with `all`, the log
  // source and destination lists, to standard output.
  void printUsage(bool all, bool showDefaults) const;
  // The localised explanation of the command-line forms, wrapped at 79.
  static CharArray usageHeading();

  // Logs every parameter of the tree (except names beginning with "_")
  // with its value in force and where it came from, at debug level for
  // defaults and information level otherwise.
  void logAll() const;

  // For every parameter of the tree holding a value at exactly that
  // priority, its name and value text.
  void valuesAt(int priority, CaseMap& out) const;

  // Comparison with another configuration, parameter by parameter over
  // this tree, matching names in the other (parameters it lacks are not
  // compared).
  bool differsFrom(const Configuration& other) const;
  // The names whose value text differs, separated by ",".
  CharArray listDifferences(const Configuration& other) const;
  // Makes every parameter that differs hold the values of the other's.
  void copyDifferences(const Configuration& from);

  // Walks the parameters of a configuration, newest first, and, when
  // recursive, those of its children breadth first.
  class ParamIterator {
   public:
    explicit ParamIterator(const Configuration& conf, bool recursive = false);
    // The current parameter; null at the end.
    ConfigParameter* param() const noexcept { return param_; }
    // The configuration the current parameter belongs to.
    const Configuration* configuration() const noexcept { return conf_; }
    explicit operator bool() const noexcept { return param_ != nullptr; }
    void next();

   private:
    void settle();

    bool recursive_;
    std::vector<const Configuration*> queue_;
    size_t queued_ = 0;
    const Configuration* conf_ = nullptr;
    ConfigParameter* param_ = nullptr;
  };

  // Receives the stored values of each parameter, lowest priority first.
  class Visitor {
   public:
    virtual ~Visitor() = default;
    virtual void visitValue(ConfigParameter& param, int priority, const char* text) = 0;
  };
  // Hands the values of this configuration's parameters (newest first) to
  // the visitor, then walks each child the same way.
  void visit(Visitor& visitor) const;

 private:
  friend class ConfigParameter;

  // Puts a parameter at the head of the list and returns the old head.
  ConfigParameter* link(ConfigParameter* param) noexcept;
  // Takes ownership of a parameter already linked here.
  void own(std::unique_ptr<ConfigParameter> param);
  // Clones a parameter made against a scratch configuration into this one.
  template <typename T>
  T* adopt(const T& made);
  ConfigParameter* findOwn(const char* name) const noexcept;

  CharArray name_;
  CharArray titleKey_;
  ConfigParameter* params_ = nullptr;
  std::vector<Configuration*> children_;
  std::vector<std::unique_ptr<ConfigParameter>> owned_;
  std::map<CharArray, ParameterAlias*, CaseLess> aliases_;
  bool logChanges_ = true;
};

}  // namespace plat
