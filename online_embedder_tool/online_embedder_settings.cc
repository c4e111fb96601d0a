// Placeholder; replaced by the settings reader.
