#include "qocore/base/plat/Configuration.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>

#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/LogDest.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/PlatStrings.h"
#include "qocore/base/plat/Utf8.h"

namespace plat {

namespace {

PLAT_LOG_SOURCE(confLog, "Configuration");

// The help and error texts come from the platform's own table, so it is
// registered at start-up.
[[maybe_unused]] const bool registered = (ensurePlatStrings(), true);

const char* localText(const char* key) { return loc::translate(key, __FILE__, __LINE__, false); }

// The localised "Bad argument" text naming the word.
CharArray badArgumentText(const char* word) {
  loc::ArgList args;
  args.str(word);
  return loc::formatNew(loc::translate("plat_bad_argument", __FILE__, __LINE__, true), args.first());
}

bool hiddenName(const char* name) noexcept { return name[0] == '_'; }

bool isBinary(const ConfigParameter& p) noexcept { return std::strcmp(p.typeName(), "binary") == 0; }

// The byte length of the text after its last line break.
int lastLineBytes(const DString& text) noexcept {
  const char* s = text.c_str();
  const char* nl = std::strrchr(s, '\n');
  return static_cast<int>(std::strlen(nl ? nl + 1 : s));
}

bool nameLess(const ConfigParameter* a, const ConfigParameter* b) noexcept {
  return strcasecmp(a->getName(), b->getName()) < 0;
}

}  // namespace

// ---- ParameterAlias ----

ParameterAlias::ParameterAlias(const char* name, const ConfigParameter& target, Configuration* conf)
    : name_(name), conf_(conf ? conf : &Configuration::global()) {
  targets_.emplace_back(target.getName());
  conf_->addAlias(this);
}

ParameterAlias::ParameterAlias(const char* name, const char* target1, const char* target2, const char* target3,
                               Configuration* conf)
    : name_(name), conf_(conf ? conf : &Configuration::global()) {
  for (const char* target : {target1, target2, target3}) {
    if (target) targets_.emplace_back(target);
  }
  conf_->addAlias(this);
}

ParameterAlias::~ParameterAlias() { conf_->removeAlias(this); }

bool ParameterAlias::expand(const char*, const char* value, CaseMap& out) {
  for (const CharArray& target : targets_) {
    auto it = out.findOrInsert(target.get());
    it->second = value ? CharArray(value) : CharArray();
  }
  return true;
}

// ---- BadCmdLineArg ----

BadCmdLineArg::BadCmdLineArg(const char* message) noexcept : Exception(message) { setType("BadCmdLineArg"); }

// ---- Configuration ----

Configuration::Configuration(const char* name, const char* titleKey) : name_(name), titleKey_(titleKey) {}

Configuration::Configuration(const Configuration& other)
    : name_(other.name_), titleKey_(other.titleKey_), aliases_(other.aliases_) {
  // Cloning links each copy at the head, so oldest first keeps the order.
  std::vector<const ConfigParameter*> params;
  for (const ConfigParameter* p = other.params_; p; p = p->getNext()) params.push_back(p);
  for (auto it = params.rbegin(); it != params.rend(); ++it) (*it)->clone(*this);
}

Configuration::~Configuration() = default;

Configuration& Configuration::global() {
  // Never destroyed: parameters of every library register here from their
  // static initialisers, and code running at exit may still read them.
  static Configuration* const g = new Configuration("Global", "plat_configuration_global_params");
  return *g;
}

void Configuration::addChild(Configuration* child) {
  if (std::find(children_.begin(), children_.end(), child) == children_.end()) children_.push_back(child);
}

void Configuration::removeChild(Configuration* child) { std::erase(children_, child); }

void Configuration::addAlias(ParameterAlias* alias) {
  // An alias of its own name would expand into itself without end.
  for (const auto& target : alias->getTargets()) {
    if (strcasecmp(target.get(), alias->getName()) == 0) {
      confLog().error("Alias %s names itself as a target: not registered", alias->getName());
      return;
    }
  }
  aliases_[CharArray(alias->getName())] = alias;
}

void Configuration::removeAlias(ParameterAlias* alias) noexcept {
  auto it = aliases_.find(alias->getName());
  if (it != aliases_.end() && it->second == alias) aliases_.erase(it);
}

ParameterAlias* Configuration::findAlias(const char* name) const noexcept {
  if (!name) return nullptr;
  auto it = aliases_.find(name);
  return it == aliases_.end() ? nullptr : it->second;
}

template <typename T>
T* Configuration::adopt(const T& made) {
  return static_cast<T*>(made.clone(*this));
}

// Each add operation builds the parameter against a scratch configuration
// and keeps its clone, which owns copies of every text it refers to.
BoolParameter* Configuration::addBool(const char* name, ParamDescription desc, bool def, bool hidden,
                                      const char* flags) {
  Configuration scratch("");
  return adopt(BoolParameter(name, desc, def, hidden, &scratch, flags));
}

IntParameter* Configuration::addInt(const char* name, ParamDescription desc, int def, int minValue, int maxValue,
                                    bool hidden, const char* flags) {
  Configuration scratch("");
  return adopt(IntParameter(name, desc, def, minValue, maxValue, hidden, &scratch, flags));
}

StringParameter* Configuration::addString(const char* name, ParamDescription desc, const char* def, bool hidden,
                                          const char* flags) {
  Configuration scratch("");
  return adopt(StringParameter(name, desc, def, hidden, &scratch, flags));
}

EnumParameter* Configuration::addEnum(const char* name, ParamDescription desc, const char* def,
                                      const char* const* names, bool hidden, const char* flags) {
  Configuration scratch("");
  return adopt(EnumParameter(name, desc, def, names, hidden, &scratch, flags));
}

BinaryParameter* Configuration::addBinary(const char* name, ParamDescription desc, int count,
                                          const unsigned char* bytes, bool hidden, const char* flags) {
  Configuration scratch("");
  return adopt(BinaryParameter(name, desc, count, bytes, hidden, &scratch, flags));
}

S64Parameter* Configuration::addS64(const char* name, ParamDescription desc, int64_t def, bool hidden,
                                    const char* flags) {
  Configuration scratch("");
  return adopt(S64Parameter(name, desc, def, hidden, &scratch, flags));
}

ConfigParameter* Configuration::findOwn(const char* name) const noexcept {
  for (ConfigParameter* p = params_; p; p = p->getNext()) {
    if (strcasecmp(p->getName(), name) == 0) return p;
  }
  return nullptr;
}

ConfigParameter* Configuration::findParam(const char* name, bool recursive) const noexcept {
  if (!name) return nullptr;
  if (ConfigParameter* p = findOwn(name)) return p;
  if (recursive) {
    for (const Configuration* child : children_) {
      if (ConfigParameter* p = child->findParam(name, true)) return p;
    }
  }
  return nullptr;
}

ConfigParameter& Configuration::getParamChecked(const char* name) const {
  ConfigParameter* p = findParam(name, true);
  if (!p) throw Exception("Parameter %s not found", name ? name : "(null)");
  return *p;
}

namespace {

template <typename T>
T& typedParam(ConfigParameter& p) {
  T* typed = dynamic_cast<T*>(&p);
  PLAT_ASSERT_MSG(typed, "parameter %s is of type %s", p.getName(), p.typeName());
  return *typed;
}

}  // namespace

BoolParameter& Configuration::getBoolParam(const char* name) const {
  return typedParam<BoolParameter>(getParamChecked(name));
}
IntParameter& Configuration::getIntParam(const char* name) const {
  return typedParam<IntParameter>(getParamChecked(name));
}
StringParameter& Configuration::getStringParam(const char* name) const {
  return typedParam<StringParameter>(getParamChecked(name));
}
EnumParameter& Configuration::getEnumParam(const char* name) const {
  return typedParam<EnumParameter>(getParamChecked(name));
}
BinaryParameter& Configuration::getBinaryParam(const char* name) const {
  return typedParam<BinaryParameter>(getParamChecked(name));
}
S64Parameter& Configuration::getS64Param(const char* name) const {
  return typedParam<S64Parameter>(getParamChecked(name));
}

bool Configuration::getBool(const char* name, bool def) const {
  ConfigParameter* p = findParam(name, true);
  return p ? typedParam<BoolParameter>(*p).getValue() : def;
}

bool Configuration::setParam(const char* name, const char* text, int priority) {
  if (!name) return false;
  if (ParameterAlias* alias = findAlias(name)) {
    CaseMap settings;
    if (!alias->expand(name, text, settings)) return false;
    if (settings.empty()) return true;
    bool any = false;
    for (const auto& [target, value] : settings) {
      if (setParam(target.get(), value.get(), priority)) any = true;
    }
    return any;
  }
  if (ConfigParameter* p = findOwn(name)) return p->setParam(text, priority);
  for (Configuration* child : children_) {
    if (child->setParam(name, text, priority)) return true;
  }
  return false;
}

bool Configuration::setParam(const char* name, int nameLen, const char* text, int priority) {
  if (!name) return false;
  CharArray copy(name, nameLen);
  return setParam(copy.get(), text, priority);
}

bool Configuration::setFromArg(const char* word, int priority) {
  if (!word) return false;
  const char* rest = word;
  if (*rest == '-') {
    ++rest;
    if (*rest == '-') ++rest;
  }
  const char* eq = std::strchr(rest, '=');
  if (!eq) {
    // Only the hyphen forms may leave the value out.
    if (rest == word) return false;
    return setParam(rest, nullptr, priority);
  }
  return setParam(rest, static_cast<int>(eq - rest), eq + 1, priority);
}

bool Configuration::parseArgs(const char* const*& argv, UsageCallback usage) {
  const int priority = ConfigParameter::kPreference;
  // A value that is not UTF-8 is a bad argument like any other: the word
  // is not taken, and the caller reports it as such.
  auto taken = [](auto&& set) {
    try {
      return set();
    } catch (const BadUtf8&) {
      return false;
    }
  };
  while (const char* word = *argv) {
    if (taken([&] { return setFromArg(word, priority); })) {
      ++argv;
    } else if (word[0] == '-' && argv[1] && taken([&] { return setParam(word + 1, argv[1], priority); })) {
      argv += 2;
    } else if (startsWith(word, "-psn_")) {
      // A process serial number the desktop adds when it launches us.
      ++argv;
    } else {
      break;
    }
  }
  if (!*argv) return true;
  if (usage && isHelpArg(*argv)) {
    const char* next = argv[1];
    int mode = kUsageNormal;
    if (next && strcasecmp(next, "all") == 0) {
      mode = kUsageAll;
    } else if (next && strcasecmp(next, "xml") == 0) {
      mode = kUsageXml;
    }
    usage(mode, *this);
  }
  return false;
}

void Configuration::parseCommandLine(const char* const* argv, UsageCallback usage) {
  if (!argv || !*argv) return;
  const char* const* words = argv + 1;
  if (parseArgs(words, usage)) return;
  CharArray bad = badArgumentText(*words);
  DString message("%s%s%s", bad.c_str(), usage ? "  " : "", usage ? localText("plat_run_with_help") : "");
  throw BadCmdLineArg(message.c_str());
}

bool Configuration::isHelpArg(const char* word) noexcept {
  if (!word) return false;
  for (const char* help : {"-help", "--help", "-h", "/?"}) {
    if (strcasecmp(word, help) == 0) return true;
  }
  return false;
}

void Configuration::printHelp(bool all, bool showDefaults, FILE* out, int width, int nameWidth) const {
  if (titleKey_) {
    std::fprintf(out, "%s:\n", localText(titleKey_.get()));
  } else {
    std::fprintf(out, "%s Parameters:\n", name_.c_str());
  }
  std::vector<ConfigParameter*> listed;
  for (ConfigParameter* p = params_; p; p = p->getNext()) {
    if (hiddenName(p->getName())) continue;
    if (!all && p->isHidden()) continue;
    listed.push_back(p);
  }
  std::stable_sort(listed.begin(), listed.end(), nameLess);
  const int indent = nameWidth + 5;
  for (ConfigParameter* p : listed) {
    const char* desc = p->getDescription();
    DString entry("  %-*s - %s", nameWidth, p->getName(), desc ? desc : "");
    entry.wordWrap(width, indent);
    if (showDefaults && !isBinary(*p)) {
      CharArray value = p->getValueStr();
      DString note("(%s=%s)", localText("plat_configuration_help_default"), value.c_str());
      if (lastLineBytes(entry) + utf8CharCount(note.c_str()) >= width) {
        entry.append("\n");
        entry.appendChars(' ', indent);
      } else {
        entry.append(" ");
      }
      entry.append(note.c_str());
      entry.wordWrap(width, indent);
    }
    std::fprintf(out, "%s\n", entry.c_str());
  }
  for (const Configuration* child : children_) child->printHelp(all, showDefaults, out, width, nameWidth);
}

CharArray Configuration::usageHeading() {
  // A translated text is never a format: a "%" in it is printed as it stands.
  DString text("%s", localText("plat_configuration_param_usage"));
  text.wordWrap(79, 0);
  return text.release();
}

void Configuration::printUsage(bool all, bool showDefaults) const {
  CharArray heading = usageHeading();
  std::fprintf(stdout, "%s\n\n", heading.c_str());
  printHelp(all, showDefaults, stdout, 79, 14);
  if (all) {
    std::fprintf(stdout, "\n%s\n", localText("plat_configuration_log_names_title"));
    listLogNames(79, stdout);
    std::fprintf(stdout, "\n%s\n", localText("plat_configuration_log_dests_title"));
    listLogDests(stdout);
  }
  std::fflush(stdout);
}

void Configuration::logAll() const {
  std::vector<ConfigParameter*> params;
  for (ParamIterator it(*this, true); it; it.next()) {
    if (!hiddenName(it.param()->getName())) params.push_back(it.param());
  }
  std::vector<std::pair<int, ConfigParameter*>> ordered;
  ordered.reserve(params.size());
  for (ConfigParameter* p : params) ordered.emplace_back(p->getPriority(), p);
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first > b.first;
    return nameLess(a.second, b.second);
  });
  LogSrc& log = confLog();
  for (const auto& [priority, p] : ordered) {
    const int level = priority == ConfigParameter::kDefault ? LogSrc::kDebug : LogSrc::kInfo;
    if (!log.enabled(level)) continue;
    char label[64];
    if (priority == ConfigParameter::kDefault) {
      std::snprintf(label, sizeof label, "Default");
    } else if (priority == ConfigParameter::kPreference) {
      std::snprintf(label, sizeof label, "Preference");
    } else if (priority >= ConfigParameter::kPolicy) {
      std::snprintf(label, sizeof label, "%s",
                    p->hasValueAt(ConfigParameter::kPreference) ? "Policy overriding preference" : "Policy");
    } else {
      std::snprintf(label, sizeof label, "Priority %d", priority);
    }
    // The text at the priority in force, so binary values show as
    // "<binary>".
    CharArray value = p->getValueStrAt(priority);
    log.write(level, "%s=%s (%s)", p->getName(), value.c_str(), label);
  }
}

void Configuration::valuesAt(int priority, CaseMap& out) const {
  for (ParamIterator it(*this, true); it; it.next()) {
    ConfigParameter* p = it.param();
    if (p->hasValueAt(priority)) out.findOrInsert(p->getName())->second = p->getValueStrAt(priority);
  }
}

bool Configuration::differsFrom(const Configuration& other) const {
  for (ParamIterator it(*this, true); it; it.next()) {
    const ConfigParameter* theirs = other.findParam(it.param()->getName(), true);
    if (theirs && strCompare(it.param()->getValueStr().get(), theirs->getValueStr().get()) != 0) return true;
  }
  return false;
}

CharArray Configuration::listDifferences(const Configuration& other) const {
  DString names;
  for (ParamIterator it(*this, true); it; it.next()) {
    const ConfigParameter* theirs = other.findParam(it.param()->getName(), true);
    if (theirs && strCompare(it.param()->getValueStr().get(), theirs->getValueStr().get()) != 0) {
      if (!names.empty()) names.append(",");
      names.append(it.param()->getName());
    }
  }
  return names.release();
}

void Configuration::copyDifferences(const Configuration& from) {
  for (ParamIterator it(*this, true); it; it.next()) {
    const ConfigParameter* theirs = from.findParam(it.param()->getName(), true);
    if (theirs && strCompare(it.param()->getValueStr().get(), theirs->getValueStr().get()) != 0) {
      it.param()->copyValues(*theirs);
    }
  }
}

void Configuration::visit(Visitor& visitor) const {
  for (ConfigParameter* p = params_; p; p = p->getNext()) {
    for (const auto& [priority, text] : p->getAllValues()) visitor.visitValue(*p, priority, text.get());
  }
  for (const Configuration* child : children_) child->visit(visitor);
}

ConfigParameter* Configuration::link(ConfigParameter* param) noexcept {
  ConfigParameter* old = params_;
  params_ = param;
  return old;
}

void Configuration::own(std::unique_ptr<ConfigParameter> param) { owned_.push_back(std::move(param)); }

// ---- ParamIterator ----

Configuration::ParamIterator::ParamIterator(const Configuration& conf, bool recursive)
    : recursive_(recursive), queue_{&conf} {
  settle();
}

void Configuration::ParamIterator::next() {
  if (param_) param_ = param_->getNext();
  settle();
}

// Moves on to the next configuration in breadth-first order while the
// current one is used up.
void Configuration::ParamIterator::settle() {
  while (!param_ && queued_ < queue_.size()) {
    conf_ = queue_[queued_++];
    param_ = conf_->params_;
    if (recursive_) queue_.insert(queue_.end(), conf_->children_.begin(), conf_->children_.end());
  }
}

}  // namespace plat
