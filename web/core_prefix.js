// The conversion core, wrapped in a function whose own text the page hands
// to its worker (a page opened from disk may start no worker from a file).
function score2wavCoreFactory() {
