-- Makes an Ardour session with one stereo track holding Tarvelon Free (VST 3),
-- for screenshot-vst3-ardour.sh to open in Ardour's GUI.
local dir = arg[1]
local backend = AudioEngine:set_backend("None (Dummy)", "", "")
backend:set_device_name("Sine Wave")
backend:set_buffer_size(1024)
AudioEngine:start(false)
local s = create_session(dir, "editor", 48000)
if not s then print("FAIL: cannot create a session"); os.exit(1) end
local t = s:new_audio_track(2, 2, nil, 1, "EQ", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front()
t:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorInput, PBD.GroupControlDisposition.NoGroup)
local proc = ARDOUR.LuaAPI.new_plugin(s, "Tarvelon Free", ARDOUR.PluginType.VST3, "")
if proc:isnil() then print("FAIL: Tarvelon Free is not among Ardour's plug-ins"); close_session(); os.exit(1) end
t:add_processor_by_index(proc, 0, nil, true)
s:save_state("", false, false, false, false, false)
close_session()
print("session made")
