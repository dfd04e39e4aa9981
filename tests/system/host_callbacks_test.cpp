#include <gtest/gtest.h>

#include "memory_host.h"
#include "system/instance.h"

namespace {
struct default_table_scope {
  explicit default_table_scope(const tarvelon_host_callbacks_t *t, void *ud) { tarvelon_set_default_host_callbacks(t, ud); }
  ~default_table_scope() { tarvelon_set_default_host_callbacks(nullptr, nullptr); }
};
}  // namespace

TEST(HostCallbacks, AHoleInTheInstanceTableIsReportedEvenWithADefaultTable) {
  memory_host host;
  host.samplerate = 96000.0;
  default_table_scope defaults(memory_host::callbacks(), &host);
  tarvelon_host_callbacks_t partial = *memory_host::callbacks();
  partial.get_sample_rate = nullptr;
  inst_t *ci = tarvelon_create_hosted_instance(nullptr, 16, &partial, &host, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(tarvelon_host_get_sample_rate(ci), 44100.0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "libtarvelon missing host callback: get_sample_rate\n");
  tarvelon_destroy_instance(ci);
  EXPECT_EQ(tarvelon_host_get_sample_rate(nullptr), 96000.0) << "no instance: the defaults answer";
}

TEST(HostCallbacks, FallbacksWithoutAnyTable) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(tarvelon_host_get_input_channel_count(nullptr), 1);
  EXPECT_EQ(tarvelon_host_get_param_value(nullptr, 3), 0.0);
  EXPECT_EQ(tarvelon_host_prompt_for_preset_path(nullptr, 1, nullptr, 0), 0);
  tarvelon_host_init_param_double(nullptr, 2, "x", 0, 0, 1, 0.1, "");
  tarvelon_host_get_param_normalized_value(nullptr, 1, 0.5);
  tarvelon_host_change_control_default_value(nullptr, 1, 0.5);
  tarvelon_host_process_gui_frame(nullptr, 0);  // silent
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "libtarvelon missing host callback: get_input_channel_count\n"
            "libtarvelon missing host callback: get_param_value\n"
            "libtarvelon missing host callback: prompt_for_preset_path\n"
            "libtarvelon missing host callback: init_param_double\n"
            "libtarvelon missing host callback: get_param_normalized_value\n"
            "libtarvelon missing host callback: change_control_default_value\n");
}

TEST(HostCallbacks, CompletenessIgnoresOnlyTheFrameEntry) {
  tarvelon_host_callbacks_t t = *memory_host::callbacks();
  EXPECT_EQ(tarvelon_host_callbacks_are_complete(&t), 1);
  t.process_gui_frame = nullptr;
  EXPECT_EQ(tarvelon_host_callbacks_are_complete(&t), 1);
  t.prompt_for_preset_path = nullptr;
  EXPECT_EQ(tarvelon_host_callbacks_are_complete(&t), 0);
  EXPECT_EQ(tarvelon_host_callbacks_are_complete(nullptr), 0);
}

TEST(HostCallbacks, PresetBuffersAreEmptiedFirstAndSizeZeroIsUntouched) {
  memory_host host;
  host.preset_dir = "/presets";
  inst_t *ci = tarvelon_create_hosted_instance(nullptr, 16, memory_host::callbacks(), &host, nullptr);
  char buf[4] = {'x', 'y', 'z', 0};
  tarvelon_host_get_preset_dir(ci, buf, 0);
  EXPECT_EQ(buf[0], 'x');
  tarvelon_host_get_preset_dir(ci, buf, 4);
  EXPECT_STREQ(buf, "/pr");
  char choice[8] = "old";
  EXPECT_EQ(tarvelon_host_prompt_for_preset_path(ci, 0, choice, 8), 0);
  EXPECT_STREQ(choice, "");
  tarvelon_set_host_callbacks(nullptr, nullptr, nullptr);
  EXPECT_EQ(tarvelon_get_host_callbacks(nullptr), nullptr);
  EXPECT_EQ(tarvelon_get_host_user_data(ci), &host);
  tarvelon_destroy_instance(ci);
}
