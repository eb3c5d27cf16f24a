// Text from the compositor's input method (text-input v3), where the
// compositor offers one: what an input method commits (a CJK phrase, a
// character picked from a list) arrives as TextInput, as typed text does.
// The keys an input method does not take still come through the keyboard.
#include "gfx/drivers/wayland/wayland_window.h"
#include "gfx/drivers/window_rules.h"

namespace pel::wayland {
namespace {

void enter(void*, zwp_text_input_v3* input, wl_surface* surface) {
  if (surface != win->surface) return;
  // A line of plain text, no hints: what a game's or tool's text field is.
  zwp_text_input_v3_enable(input);
  zwp_text_input_v3_set_content_type(input, ZWP_TEXT_INPUT_V3_CONTENT_HINT_NONE,
                                     ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_NORMAL);
  zwp_text_input_v3_commit(input);
}

void leave(void*, zwp_text_input_v3* input, wl_surface* surface) {
  if (surface != win->surface) return;
  zwp_text_input_v3_disable(input);
  zwp_text_input_v3_commit(input);
  win->committed.clear();
}

void commitString(void*, zwp_text_input_v3*, const char* text) { win->committed = text ? text : ""; }

// The state is applied at done: the commit goes to the program as typed
// text (the preedit and surrounding text are the input method's to show).
void done(void*, zwp_text_input_v3*, uint32_t) {
  if (win->committed.empty()) return;
  textTyped(win->rules, win->committed.c_str());
  win->committed.clear();
}

const zwp_text_input_v3_listener textInputListener = {
    .enter = enter,
    .leave = leave,
    .preedit_string = [](void*, zwp_text_input_v3*, const char*, int32_t, int32_t) {},
    .commit_string = commitString,
    .delete_surrounding_text = [](void*, zwp_text_input_v3*, uint32_t, uint32_t) {},
    .done = done,
};

}  // namespace

void startTextInput() {
  if (!win->textInputs || !win->seat || win->textInput) return;
  win->textInput = zwp_text_input_manager_v3_get_text_input(win->textInputs, win->seat);
  if (win->textInput) zwp_text_input_v3_add_listener(win->textInput, &textInputListener, nullptr);
}

void stopTextInput() {
  if (win->textInput) zwp_text_input_v3_destroy(win->textInput);
  if (win->textInputs) zwp_text_input_manager_v3_destroy(win->textInputs);
  win->textInput = nullptr;
  win->textInputs = nullptr;
  win->committed.clear();
}

}  // namespace pel::wayland
