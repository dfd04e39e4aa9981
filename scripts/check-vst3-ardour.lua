-- Headless check of the installed VST 3 bundle in Ardour (run by
-- check-vst3-ardour.sh with ardour7-lua): load it on a stereo track, list its
-- parameters, play a test signal through it, change a parameter and check the
-- output level follows, save, reload and check the parameter came back.
local dir = arg[1] or "/tmp/tarvelon-ardour-check"
local function fail(msg) print("FAIL: " .. msg); close_session(); os.exit(1) end

local backend = AudioEngine:set_backend("None (Dummy)", "", "")
backend:set_device_name("Sine Wave")
AudioEngine:start(false)

local s = create_session(dir, "check", 48000)
if not s then print("FAIL: cannot create a session"); os.exit(1) end
local t = s:new_audio_track(2, 2, nil, 1, "EQ", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front()
t:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorInput, PBD.GroupControlDisposition.NoGroup)
local proc = ARDOUR.LuaAPI.new_plugin(s, "Tarvelon Free", ARDOUR.PluginType.VST3, "")
if proc:isnil() then fail("Tarvelon Free is not among Ardour's plug-ins (run the VST 3 scanner)") end
t:add_processor_by_index(proc, 0, nil, true)
local plugin = proc:to_insert():plugin(0)
print("parameters: " .. plugin:parameter_count())
for i = 0, plugin:parameter_count() - 1 do print(string.format("  %2d %s", i, plugin:parameter_label(i))) end
if plugin:parameter_count() ~= 28 then fail("expected 28 parameters") end

local function level()
  ARDOUR.LuaAPI.usleep(1500000)
  return t:peak_meter():meter_level(0, ARDOUR.MeterType.MeterPeak)
end
local before = level()
ARDOUR.LuaAPI.set_processor_param(proc, 17, -12.0)  -- Overall Gain
local after = level()
print(string.format("output peak: %.2f dBFS at 0 dB, %.2f dBFS at Overall Gain -12 dB (change %.2f dB)",
                    before, after, after - before))
if before < -60 then fail("no signal came through the plug-in") end
if math.abs((after - before) + 12.0) > 1.0 then fail("the level did not follow the parameter") end

s:save_state("", false, false, false, false, false)
close_session()
s = load_session(dir, "check")
if not s then print("FAIL: cannot reload the session"); os.exit(1) end
local found = nil
for r in s:get_routes():iter() do
  local p = r:nth_plugin(0)
  if not p:isnil() and p:name():find("Tarvelon") then found = p end
end
if not found then fail("the plug-in is missing after reloading") end
local v = ARDOUR.LuaAPI.get_processor_param(found, 17)
print(string.format("Overall Gain after reload: %.2f dB", v))
if math.abs(v + 12.0) > 0.01 then fail("the parameter did not come back") end
print("PASS: Ardour loaded, played, saved and restored Tarvelon Free (VST 3)")
close_session()
