#include "tour/sample_conversation.hpp"

namespace orvane::app::tour {

const std::string_view SAMPLE_CONVERSATION = R"json([
  {"role": "user", "content": "Please back up ~/Documents/thesis to the NAS every night at 2am and tell me when the first run is done."},
  {"role": "assistant", "content": "I will set that up. Which NAS share should I use?"},
  {"role": "user", "content": "nas.local:/backups/anna, and keep the last 7 copies."},
  {"role": "assistant", "content": null, "tool_calls": [
    {"id": "call_1", "type": "function", "function": {"name": "schedule_task", "arguments": "{\"schedule\": \"0 2 * * *\", \"prompt\": \"rsync ~/Documents/thesis to nas.local:/backups/anna, keep 7 copies\"}"}}
  ]},
  {"role": "tool", "tool_call_id": "call_1", "content": "Job added: nightly-thesis-backup (next run 02:00)"},
  {"role": "assistant", "content": "Done: a nightly job at 02:00 copies ~/Documents/thesis to nas.local:/backups/anna and keeps 7 copies. The first run is tonight."},
  {"role": "user", "content": "Great. Also the NAS asks for a password sometimes; use the key in ~/.ssh/nas_ed25519."},
  {"role": "assistant", "content": "Noted: the job will use ~/.ssh/nas_ed25519. I will report after the first run."}
])json";

}  // namespace orvane::app::tour
