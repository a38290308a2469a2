// The application's composition lives here.
