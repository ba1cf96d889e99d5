// Placeholder so a subsystem without sources still forms a library.
