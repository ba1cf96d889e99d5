-- The sprite benchmark scene's window: 1280x720, vsync off, only the modules it uses.
function love.conf(t)
  t.identity = "korvane-bunnymark"
  t.window.title = "bunnymark (peer engine)"
  t.window.width = 1280
  t.window.height = 720
  t.window.vsync = 0
  t.window.resizable = false
  t.modules.audio = false
  t.modules.sound = false
  t.modules.joystick = false
  t.modules.physics = false
  t.modules.touch = false
  t.modules.video = false
end
