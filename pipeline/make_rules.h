// The text of a dependency file: rules written so that GNU make reads back exactly the names
// they hold.
#pragma once

#include <string>
#include <vector>

struct MakeRules {
  std::string text;
  std::string unreadable;  // a name no escaping gets past make; `text` is empty then
};

// A rule's target: as given (-MT, the user's own make text) or escaped like every name.
struct RuleTarget {
  std::string name;
  bool escaped = true;
};

// "targets: source headers...", and with `header_rules` a rule "header:" for each header, so
// that make goes on when one is deleted.
MakeRules make_rules(const std::vector<RuleTarget>& targets, const std::string& source,
                     const std::vector<std::string>& headers, bool header_rules);
