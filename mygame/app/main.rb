# The sample game: counts its ticks and says so once a second.
def tick args
  args.state.seconds ||= 0
  return unless args.state.tick_count % 60 == 0

  args.state.seconds += 1 if args.state.tick_count > 0
  puts "mygame: tick #{args.state.tick_count}, #{args.state.seconds} s running"
end
