// Gives every layer library at least one translation unit.
