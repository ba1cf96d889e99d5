# The two tick counters of the framework, kept on Kernel so that every object
# (and the game) can read them without a runtime at hand:
# - Kernel.tick_count: the game's tick number. -1 until the game's first tick
#   and after every reset; the game's first tick sees 0.
# - Kernel.global_tick_count: simulation steps since the game was loaded; a
#   game reset leaves it alone.
module Kernel
  @tick_count ||= -1
  @global_tick_count ||= -1

  class << self
    def tick_count
      @tick_count
    end

    def tick_count= value
      @tick_count = value
    end

    def global_tick_count
      @global_tick_count
    end

    def global_tick_count= value
      @global_tick_count = value
    end
  end
end
