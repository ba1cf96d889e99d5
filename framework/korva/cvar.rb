# Console variables as the script side sees them. The engine mirrors every
# registered cvar into $cvars as a KorCvar (name, description, type name).
module Kor
  class Cvar
    attr_reader :name, :description, :type

    def initialize name, description, type
      @name = name
      @description = description
      @type = type
    end

    def to_s
      "#{@name} (#{@type}): #{@description}"
    end

    def inspect
      "#<KorCvar #{@name} #{@type}>"
    end
  end

  # Lookup of the mirrored cvars by name.
  class Cvars
    def self.[] name
      $cvars[name.to_s]
    end

    def self.names
      $cvars.keys
    end
  end
end

KorCvar = Kor::Cvar
Cvars = Kor::Cvars
$cvars = {}
