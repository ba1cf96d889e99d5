# The game the framework's own tests run against.
def tick args
end
