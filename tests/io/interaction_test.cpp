// Editing from the editor through window events: the pointer on the curve,
// typed knob values with expressions and fallbacks, and the keyboard.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "io/keyboard.h"
#include "graphics/text.h"
#include "io/pointer.h"
#include "support/bridge_fixture.h"

namespace {
double freq_at_column(const inst_t *ci, int x) {
  const tarvelon_hview_t hv = ci->hview.load();
  return hv.zmin * std::pow(hv.zmax / hv.zmin, (x - ci->vxf) / (ci->kVW - 1));
}
}  // namespace

TEST(KnobEntry, TypedExpressionsCommitOnReturnAndBadTextFallsBack) {
  bridge b;
  const int band = b.ci()->selband;
  b.open_field(2);  // the selected band's frequency
  ASSERT_EQ(b.ci()->knob_textedit_on[2], 1);
  ASSERT_EQ(b.ci()->vantalib_gui_context.cur_te, &b.ci()->knob_textedits[2]) << "the field has the keys";
  EXPECT_TRUE(b.key(PW_KEY_A, 0)) << "while a field is open every key is the editor's";
  b.type("440*2");
  b.key(PW_KEY_ENTER, 0);
  pw_tick(b.g);
  pw_tick(b.g);
  EXPECT_DOUBLE_EQ(b.param(8 + band), 880.0);
  EXPECT_EQ(b.ci()->knob_textedit_on[2], 0) << "committed and closed";
  EXPECT_FALSE(b.key(PW_KEY_A, 0)) << "keys go back to the host";

  b.open_field(2);
  b.type("warm");
  b.key(PW_KEY_ENTER, 0);
  pw_tick(b.g);
  const double def = b.ci()->equ[band].defaultfreq;
  EXPECT_DOUBLE_EQ(b.param(8 + band), def > 0 ? def : 1000.0) << "the band's own default frequency";

  b.open_field(4);  // "Colour": its fallback is 2
  b.type("1/0");
  b.key(PW_KEY_TAB, 0);
  pw_tick(b.g);
  EXPECT_EQ(b.param(19), 2.0);
}

TEST(KnobEntry, ALeftClickElsewhereOrLosingFocusCommits) {
  bridge b;
  b.open_field(8);  // "Overall Gain"
  b.type("-3 dB");
  b.send(PW_EVENT_MOUSE_LEFT_DOWN, 5, 5, PW_MOD_LEFT_BUTTON);
  b.send(PW_EVENT_MOUSE_LEFT_UP, 5, 5);
  pw_tick(b.g);
  pw_tick(b.g);
  EXPECT_DOUBLE_EQ(b.param(17), -3.0);
  EXPECT_EQ(b.ci()->knob_textedit_on[8], 0);

  b.open_field(8);
  b.type("2+2");
  PWEvent lost{};
  lost.type = PW_EVENT_KEY_FOCUS_LOST;
  lost.gui = b.g;
  pw_event(&lost);
  pw_tick(b.g);
  EXPECT_DOUBLE_EQ(b.param(17), 4.0);
  EXPECT_EQ(b.ci()->knob_textedit_on[8], 0);
}

TEST(KnobEntry, FieldKeysSelectUndoPasteCopyAndCut) {
  bridge b;
  b.open_field(7);  // "Transpose"
  inst_t *ci = b.ci();
  textedit_t *te = &ci->knob_textedits[7];
  std::string copied;
  std::string clip_text = "1\r\n2";
  tarvelon_clipboard_t clip{};
  clip.user_data = &copied;
  clip.set_text = [](void *ud, const char *t) { *static_cast<std::string *>(ud) = t; };
  static std::string *source;
  source = &clip_text;
  clip.get_text = [](void *) { return strdup(source->c_str()); };
  clip.free_text = [](void *, char *t) { free(t); };

  // The frame bound the field as the focus; the handlers run outside a frame here.
  EXPECT_EQ(tarvelon_on_key_down(ci, PW_KEY_A, 1, 0, 0, &clip), 1);
  EXPECT_EQ(tarvelon_on_key_down(ci, 86, 1, 0, 0, &clip), 1);  // Ctrl+V
  EXPECT_STREQ(te->string, "1 2") << "CR LF in a one-line field: one space";
  EXPECT_EQ(tarvelon_on_text_input(ci, "\x01"), 0) << "control characters are not text";
  EXPECT_EQ(tarvelon_on_key_down(ci, PW_KEY_Z, 1, 0, 0, &clip), 1);
  EXPECT_STRNE(te->string, "1 2") << "the field's own undo";
  EXPECT_EQ(tarvelon_on_key_down(ci, PW_KEY_Y, 1, 0, 0, &clip), 1);
  EXPECT_STREQ(te->string, "1 2");
  tarvelon_on_key_down(ci, PW_KEY_A, 1, 0, 0, &clip);
  tarvelon_on_key_down(ci, 67, 1, 0, 0, &clip);  // Ctrl+C
  EXPECT_EQ(copied, "1 2");
  te->read_only = 1;
  tarvelon_on_key_down(ci, 88, 1, 0, 0, &clip);  // Ctrl+X in a read-only field: copies only
  EXPECT_STREQ(te->string, "1 2");
  te->read_only = 0;
  tarvelon_on_key_down(ci, 88, 1, 0, 0, &clip);
  EXPECT_STREQ(te->string, "");
  EXPECT_EQ(copied, "1 2");
  EXPECT_EQ(tarvelon_on_key_down(ci, 0x7B, 0, 0, 0, &clip), 1) << "unknown keys are swallowed";
}

TEST(KnobEntry, ARightClickOnAKnobWithoutParameterOpensNothing) {
  bridge b;
  b.ci()->selband = 9;  // no band selected: the band knobs have no parameter
  b.open_field(1);
  EXPECT_EQ(b.ci()->knob_textedit_on[1], 0);
  EXPECT_EQ(tarvelon_control_param_id(b.ci(), 0), -1);
  EXPECT_EQ(tarvelon_control_param_id(b.ci(), 16), -1);
  EXPECT_EQ(tarvelon_control_param_id(b.ci(), 15), 27);
  EXPECT_EQ(tarvelon_control_param_id(b.ci(), 7), 16);
}

TEST(CurvePointer, DragsArePinnedToTheAreaAndGainScaleLimitsThem) {
  bridge b;
  inst_t *ci = b.ci();
  const int band = 3;
  const eq_t e = ci->equ[band];
  b.drag(float(e.x), float(e.y), float(ci->vx + ci->kVW + 300), float(e.y));
  EXPECT_NEAR(b.param(8 + band), freq_at_column(ci, ci->vx + ci->kVW - 1 - int(e.x - int(e.x))), b.param(8 + band) * 0.01)
      << "pinned to the last column";

  b.t.p->params[18].value = 0.0;  // "Gain Scale" 0: nothing can be dragged
  koppel_setParameterValue(b.t.p, 18, 0.0);
  const double f0 = b.param(8 + band);
  pw_tick(b.g);
  b.drag(float(ci->equ[band].x), float(ci->equ[band].y), float(ci->equ[band].x - 50), float(ci->equ[band].y - 40));
  EXPECT_EQ(b.param(8 + band), f0);
}

TEST(CurvePointer, HandleSlopesFollowGainScaleAndTheWrongSideRule) {
  bridge b;
  inst_t *ci = b.ci();
  koppel_setParameterValue(b.t.p, 18, 0.5);
  pw_tick(b.g);
  const int band = 1;
  const eq_t e = ci->equ[band];
  // Handle 1 pulled far up: the slope stops at |Gain Scale|·100 = 50 dB/oct.
  b.drag(float(e.h1x), float(e.h1y), float(e.h1x + 5), float(ci->vy + 1));
  EXPECT_NEAR(b.param(12 + band), 50.0 / 0.5, 1e-6) << "the parameter holds the slope before the gain scale";
  EXPECT_NEAR(ci->equ[band].slope, 50.0, 1e-6);

  // A grab where the handle sits on its band point: no frequency distance, no change.
  const double s0 = ci->equ[band].slope;
  ci->grabbed = 1, ci->grabbed_id = band, ci->grabbed_type = 1;
  ci->grabbed_offset_x = ci->grabbed_offset_y = 0.0;
  ci->grabbed_mouse_x = 0, ci->grabbed_mouse_y = 0;
  ci->equ[band].h1pitch = ci->equ[band].pitch;
  ci->equ[band].h1x = 1e9;  // the pointer is "between" point and handle: the handle's own frequency is used
  tarvelon_on_mouse_drag(ci, int(ci->equ[band].x), int(ci->equ[band].y) - 30, 0, 0, 0, 1);
  EXPECT_EQ(ci->equ[band].slope, s0);
  tarvelon_on_mouse_up(ci);
}

TEST(CurvePointer, WheelZoomsAboutThePointerAndPanNeedsAZoom) {
  bridge b;
  inst_t *ci = b.ci();
  const int x = ci->vx + ci->kVW / 3, y = ci->vy + ci->kVH / 2;
  b.send(PW_EVENT_MOUSE_MOVE, float(x), float(y));
  pw_tick(b.g);
  const double before = freq_at_column(ci, x);
  // A right drag at full zoom-out does not pan.
  b.send(PW_EVENT_MOUSE_RIGHT_DOWN, float(x), float(y), PW_MOD_RIGHT_BUTTON);
  b.send(PW_EVENT_MOUSE_MOVE, float(x + 80), float(y), PW_MOD_RIGHT_BUTTON);
  b.send(PW_EVENT_MOUSE_RIGHT_UP, float(x + 80), float(y));
  b.send(PW_EVENT_MOUSE_MOVE, float(x), float(y));
  pw_tick(b.g);
  EXPECT_EQ(b.param(27), 0.5);

  PWEvent w{};
  w.type = PW_EVENT_MOUSE_WHEEL;
  w.gui = b.g;
  w.mouse.y = 120.0f;
  pw_event(&w);
  pw_tick(b.g);
  EXPECT_NEAR(b.param(26), 1.25, 1e-9);
  EXPECT_NEAR(freq_at_column(ci, x), before, before * 1e-9) << "the frequency under the pointer stays";

  // Zoomed in, a right drag to the right shows lower frequencies.
  const double pos = b.param(27);
  b.send(PW_EVENT_MOUSE_RIGHT_DOWN, float(x), float(y), PW_MOD_RIGHT_BUTTON);
  b.send(PW_EVENT_MOUSE_MOVE, float(x + 40), float(y), PW_MOD_RIGHT_BUTTON);
  b.send(PW_EVENT_MOUSE_RIGHT_UP, float(x + 40), float(y));
  pw_tick(b.g);
  EXPECT_LT(b.param(27), pos);
  for (int i = 0; i < 10; i++) pw_event(&w), pw_tick(b.g);
  EXPECT_EQ(b.param(26), 10.0) << "zoom stops at its limit";
}

TEST(CurvePointer, CtrlZDuringADragClosesItFirst) {
  bridge b;
  inst_t *ci = b.ci();
  const int band = 2;
  const double f0 = b.param(8 + band);
  const eq_t e = ci->equ[band];
  b.send(PW_EVENT_MOUSE_LEFT_DOWN, float(e.x), float(e.y), PW_MOD_LEFT_BUTTON);
  b.send(PW_EVENT_MOUSE_MOVE, float(e.x + 60), float(e.y), PW_MOD_LEFT_BUTTON);
  pw_tick(b.g);
  ASSERT_NE(b.param(8 + band), f0);
  b.key(PW_KEY_Z, PW_MOD_KEY_CTRL);
  pw_tick(b.g);
  EXPECT_DOUBLE_EQ(b.param(8 + band), f0) << "the drag so far is undone as one step";
  b.send(PW_EVENT_MOUSE_LEFT_UP, float(e.x + 60), float(e.y));
  pw_tick(b.g);
  EXPECT_EQ(ci->undo_group, 0);
}

TEST(CurvePointer, HoverReadoutAndCursorShapes) {
  bridge b;
  inst_t *ci = b.ci();
  const int x = ci->vx + 20, y = ci->vy + ci->kVH / 2;
  b.send(PW_EVENT_MOUSE_MOVE, float(x), float(y));
  pw_tick(b.g);
  const std::string readout = ci->debug_txt->text;
  EXPECT_EQ(readout.rfind("freq: ", 0), 0u) << readout;
  EXPECT_NE(readout.find(" Hz - gain: "), std::string::npos) << readout;
  EXPECT_NE(readout.find(" dB"), std::string::npos) << readout;
  EXPECT_EQ(b.g->cursor, PW_CURSOR_ARROW);
  const eq_t e = ci->equ[1];
  b.send(PW_EVENT_MOUSE_MOVE, float(e.x + 3), float(e.y));
  pw_tick(b.g);
  EXPECT_EQ(b.g->cursor, PW_CURSOR_HAND_DRAGGABLE) << "an open hand over a band point";
  b.send(PW_EVENT_MOUSE_LEFT_DOWN, float(e.x + 3), float(e.y), PW_MOD_LEFT_BUTTON);
  pw_tick(b.g);
  EXPECT_EQ(b.g->cursor, PW_CURSOR_HAND_DRAGGING) << "a closed one while dragging";
  b.send(PW_EVENT_MOUSE_LEFT_UP, float(e.x + 3), float(e.y));
  b.send(PW_EVENT_MOUSE_EXIT, 0, 0);
  pw_tick(b.g);
  EXPECT_STREQ(ci->debug_txt->text, "");
}
