-- Headless check of the installed VST 3 bundle in Ardour (run by
-- check-vst3-ardour.sh with ardour7-lua): load it on a stereo track, list its
-- parameters, play a test signal through it, change a parameter and check the
-- output level follows, save, reload and check the parameter came back.
local dir = arg[1] or "/tmp/tarvelon-ardour-check"
local function fail(msg) print("FAIL: " .. msg); close_session(); os.exit(1) end

local backend = AudioEngine:set_backend("None (Dummy)", "", "")
backend:set_device_name("Sine Wave")
backend:set_buffer_size(1024)  -- 1024-frame cycles, as a host with a large buffer runs
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

-- The delay the audio really gets against the latency Ardour reads: a probe
-- before the plug-in replaces the signal by one impulse per 1024 samples, a
-- probe after it finds where in that period the impulse comes out. With the
-- curve flat the output is the input delayed, so the position is the delay
-- modulo 1024 (the probes' clocks differ by whole cycles, hence the modulo).
ARDOUR.LuaAPI.set_processor_param(proc, 17, 0.0)
local emit = ARDOUR.LuaAPI.new_luaproc(s, "Tarvelon Delay Probe")
local catch = ARDOUR.LuaAPI.new_luaproc(s, "Tarvelon Delay Probe")
if emit:isnil() or catch:isnil() then fail("the delay probe script is not installed") end
t:add_processor_by_index(emit, 0, nil, true)
t:add_processor_by_index(catch, 2, nil, true)  -- after the plug-in
ARDOUR.LuaAPI.set_processor_param(catch, 0, 1)
ARDOUR.LuaAPI.usleep(2500000)
local shm = catch:to_insert():plugin(0):to_luaproc():shmem():to_int(0):array()
local reported = proc:signal_latency()
print(string.format("latency read by Ardour: %d samples; impulse delay modulo 1024: %d (expected %d); peak %.3f",
                    reported, shm[1], reported % 1024, shm[2] / 1000))
if shm[3] < 10 then fail("the probe saw no audio") end
if shm[1] ~= reported % 1024 then fail("the delay the audio gets is not the latency Ardour reads") end
ARDOUR.LuaAPI.set_processor_param(proc, 17, -12.0)  -- the value the reload must bring back

s:save_state("", false, false, false, false, false)
close_session()
s = load_session(dir, "check")
if not s then print("FAIL: cannot reload the session"); os.exit(1) end
local found = nil
for r in s:get_routes():iter() do
  for i = 0, 3 do
    local p = r:nth_plugin(i)
    if not p:isnil() and p:name() == "Tarvelon Free" then found = p end
  end
end
if not found then fail("the plug-in is missing after reloading") end
local v = ARDOUR.LuaAPI.get_processor_param(found, 17)
print(string.format("Overall Gain after reload: %.2f dB", v))
if math.abs(v + 12.0) > 0.01 then fail("the parameter did not come back") end
print("PASS: Ardour loaded, played, saved and restored Tarvelon Free (VST 3)")
close_session()
