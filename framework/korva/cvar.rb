# Console variables as the script side sees them. The engine mirrors every
# registered cvar into $cvars as a KorCvar (name, description, type name); the
# value itself lives in the engine and is read and set through FFI::Misc.
module Kor
  class Cvar
    attr_reader :name, :description, :type

    def initialize name, description, type
      @name = name
      @description = description
      @type = type
    end

    def value
      misc = Cvar.ffi_misc
      misc ? misc.cvar_get(@name) : nil
    end

    # The engine parses the text by the cvar's type; false when it refused
    # (a locked cvar or a value that does not parse).
    def value= text
      misc = Cvar.ffi_misc
      misc ? misc.cvar_set(@name, text.to_s) : false
    end

    def locked?
      misc = Cvar.ffi_misc
      misc ? misc.cvar_islocked(@name) : false
    end

    def to_s
      "#{@name} (#{@type}): #{@description}"
    end

    def inspect
      "#<KorCvar #{@name} #{@type}>"
    end

    def self.ffi_misc
      runtime = $kor
      return runtime.ffi_misc if runtime.respond_to?(:ffi_misc) && runtime.ffi_misc
      @ffi_misc ||= FFI::Misc.new if Object.const_defined?(:FFI) && FFI.const_defined?(:Misc)
      @ffi_misc
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
$cvars ||= {}
