// The page's side of the browser display (display_web.cpp): at every animation frame, draws the last flip the show
// handed over, if it is new, into the canvas and tells the show. The show has put the frame's bytes in the
// canvas's order, in one of two frames; the lock word of that frame keeps the show from writing it meanwhile.
// Counters for the page and its checks: frames drawn, when the first was drawn, the time between draws, and the
// show's own flip times.
var QuimblesDisplay = {
    running: false,
    framesDrawn: 0,
    firstFrameTime: 0,
    flipTimesAddress: 0,
    flipTimesCount: 0,
    // Called after each drawing with the flip's number (1 for the first flip) and the canvas, while it shows it.
    onDraw: null,

    open: function(frames, locks, posted, drawn, flipTimes, flipTimesCount) {
        var canvas = Module["canvas"] || document.getElementById("canvas");
        if (!canvas)
            return 1;
        canvas.width = 640;
        canvas.height = 480;
        var context = canvas.getContext("2d", {alpha: false});
        if (!context)
            return 2;
        var image = context.createImageData(640, 480);
        var display = this;
        var frameBytes = 640 * 480 * 4;
        display.flipTimesAddress = flipTimes;
        display.flipTimesCount = flipTimesCount;
        display.running = true;
        function frame(time) {
            if (!display.running)
                return;
            var handed = Atomics.load(HEAPU32, posted >> 2);
            var flip = handed >>> 1, which = handed & 1, lock = (locks >> 2) + which;
            if (handed !== 0 && flip !== Atomics.load(HEAPU32, drawn >> 2) &&
                Atomics.compareExchange(HEAP32, lock, 0, 2) === 0) {
                // Still the frame handed over: the show writes a frame only after handing over the other one.
                if (Atomics.load(HEAPU32, posted >> 2) === handed) {
                    var start = frames + which * frameBytes;
                    image.data.set(HEAPU8.subarray(start, start + frameBytes));
                    context.putImageData(image, 0, 0);
                    if (display.framesDrawn === 0)
                        display.firstFrameTime = performance.now();
                    display.framesDrawn++;
                    if (display.onDraw)
                        display.onDraw(flip, canvas);
                    Atomics.store(HEAPU32, drawn >> 2, flip);
                    Atomics.notify(HEAP32, drawn >> 2);
                }
                Atomics.store(HEAP32, lock, 0);
                Atomics.notify(HEAP32, lock);
            }
            requestAnimationFrame(frame);
        }
        requestAnimationFrame(frame);
        return 0;
    },

    // When the show handed each flip over, in milliseconds of the page's clock (0: left out), from flip 1 on.
    flipTimes: function(count) {
        var n = Math.min(count, this.flipTimesCount);
        return Array.prototype.slice.call(HEAPF64.subarray(this.flipTimesAddress >> 3, (this.flipTimesAddress >> 3) + n));
    },

    close: function() {
        this.running = false;
    }
};
Module["quimblesDisplay"] = QuimblesDisplay;
