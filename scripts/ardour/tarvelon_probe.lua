ardour {
	["type"]    = "dsp",
	name        = "Tarvelon Delay Probe",
	category    = "Utility",
	license     = "MIT",
	author      = "Tarvelon tests",
	description = [[Role 0 replaces the input by a unit impulse at the start of every 1024-sample period; role 1 passes audio through and records where in the period the loudest sample of the last period lay.]]
}

function dsp_ioconfig () return { { audio_in = 2, audio_out = 2 } } end

function dsp_params ()
	return { { ["type"] = "input", name = "Role", min = 0, max = 1, default = 0, integer = true } }
end

local period = 1024
local counter = 0
local best, best_at = 0, -1

function dsp_init (rate)
	self:shmem ():allocate (4)
	self:shmem ():clear ()
end

function dsp_run (ins, outs, n_samples)
	local role = CtrlPorts:array ()[1]
	local shm = self:shmem ():to_int (0):array ()
	for c = 1, #outs do
		if ins[c] ~= outs[c] then ARDOUR.DSP.copy_vector (outs[c], ins[c], n_samples) end
	end
	local a = outs[1]:array ()
	local b = outs[2]:array ()
	for s = 1, n_samples do
		local phase = (counter + s - 1) % period
		if role == 0 then
			local v = (phase == 0) and 1.0 or 0.0
			a[s] = v
			b[s] = v
		else
			local v = math.abs (a[s])
			if v > best then best, best_at = v, phase end
			if phase == period - 1 then
				shm[1] = best_at
				shm[2] = math.floor (best * 1000 + 0.5)
				shm[3] = shm[3] + 1
				best, best_at = 0, -1
			end
		end
	end
	counter = counter + n_samples
end
