#include "upgrd_util/base/upgrade_target.h"

#include <cstring>

namespace {

template <size_t N>
bool StoreField(char (&field)[N], std::string_view value) {
  if (value.size() >= N || value.find('\0') != std::string_view::npos)
    return false;
  memcpy(field, value.data(), value.size());
  field[value.size()] = '\0';
  return true;
}

}  // namespace

bool set_target_ip(upgrade_target* target, std::string_view value) {
  return StoreField(target->ip, value);
}

bool set_target_user_name(upgrade_target* target, std::string_view value) {
  return StoreField(target->user_name, value);
}

bool set_target_password(upgrade_target* target, std::string_view value) {
  return StoreField(target->password, value);
}

void set_card_end(upgrade_target* card, CardOutcome outcome) {
  card->state.outcome = outcome;
  card->status = outcome_words(outcome).status;
}

upgrade_target* append_upgrade_target(upgrade_target** head) {
  upgrade_target* target = new upgrade_target();
  upgrade_target** tail = head;
  while (*tail)
    tail = &(*tail)->next;
  *tail = target;
  return target;
}

void free_upgrade_targets(upgrade_target* head) {
  while (head) {
    upgrade_target* next = head->next;
    delete head;
    head = next;
  }
}
