-- The sprite benchmark scene: N moving 32x32 sprites from one PNG, one
-- love.graphics.draw per sprite, with the motion model of the korvane game and the
-- plain SDL loop. Prints the renderer it got and the median frame time.
--
--   love bench/love --png bench/bunnymark/sprites/bunny.png --bunnies 5000 [--frames 300] [--warmup 60]

local screen_w, screen_h, size = 1280, 720, 32
local gravity = 0.5
local max_x, max_y = screen_w - size, screen_h - size

local options = { bunnies = 1000, frames = 300, warmup = 60 }
local bunnies = {}
local image
local frame_ms = {}
local frame = 0

local function parse(args)
  local i = 1
  while i < #args do
    local key, value = args[i], args[i + 1]
    if key == "--png" then options.png = value
    elseif key == "--bunnies" then options.bunnies = tonumber(value)
    elseif key == "--frames" then options.frames = tonumber(value)
    elseif key == "--warmup" then options.warmup = tonumber(value)
    end
    i = i + 2
  end
end

-- The PNG is read from the host file system: the game's own directory holds no sprite.
local function load_png(path)
  local file = assert(io.open(path, "rb"))
  local bytes = file:read("*a")
  file:close()
  local data = love.filesystem.newFileData(bytes, "bunny.png")
  return love.graphics.newImage(love.image.newImageData(data))
end

function love.load(args)
  parse(args)
  love.graphics.setDefaultFilter("nearest", "nearest")
  image = load_png(options.png)
  for i = 0, options.bunnies - 1 do
    bunnies[#bunnies + 1] = {
      x = (i * 37) % max_x, y = (i * 91) % max_y,
      vx = ((i * 13) % 11 - 5) * 0.5 + 0.25, vy = (i * 7) % 9 - 2,
    }
  end
  local name, version, vendor, device = love.graphics.getRendererInfo()
  print(string.format("RENDERER %s %s (%s, %s)", name, version, vendor, device))
  io.stdout:flush()
end

local function update()
  local tick = frame
  for i = 1, #bunnies do
    local b = bunnies[i]
    b.x = b.x + b.vx
    b.y = b.y + b.vy
    b.vy = b.vy - gravity
    if b.x > max_x then b.vx = -b.vx; b.x = max_x
    elseif b.x < 0 then b.vx = -b.vx; b.x = 0 end
    if b.y < 0 then b.vy = -b.vy * 0.85 + tick % 7; b.y = 0
    elseif b.y > max_y then b.vy = 0; b.y = max_y end
  end
end

local function draw()
  local draw_image = love.graphics.draw
  for i = 1, #bunnies do
    local b = bunnies[i]
    draw_image(image, b.x, max_y - b.y)
  end
end

local function report()
  table.sort(frame_ms)
  local n = #frame_ms
  if n > 0 then
    print(string.format("RESULT frames=%d median_ms=%.3f p90_ms=%.3f", n,
                        frame_ms[math.floor(n / 2) + 1], frame_ms[math.floor(n * 9 / 10) + 1]))
  end
  io.stdout:flush()
end

-- The stock main loop minus its 1 ms sleep per frame, so the figure is the
-- engine's drawing cost and nothing else.
function love.run()
  love.load(love.arg.parseGameArguments(arg), arg)
  local last = love.timer.getTime()
  return function()
    love.event.pump()
    for name in love.event.poll() do
      if name == "quit" then return 0 end
    end
    love.timer.step()
    update()
    love.graphics.origin()
    love.graphics.clear(230 / 255, 230 / 255, 230 / 255, 1)
    draw()
    love.graphics.present()
    local now = love.timer.getTime()
    if frame >= options.warmup then
      frame_ms[#frame_ms + 1] = (now - last) * 1000
    end
    last = now
    frame = frame + 1
    if frame >= options.warmup + options.frames then
      report()
      return 0
    end
  end
end
