// Replaced by the record store sources.
