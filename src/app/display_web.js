// The page's side of the browser display (display_web.cpp): at every animation frame, draws the flip the show
// asked for, if any, into the canvas and tells the show. The show has put the frame's bytes in the canvas's order.
// Counters for the page and its checks: frames drawn, when the first was drawn, the time between draws.
var QuimblesDisplay = {
    running: false,
    framesDrawn: 0,
    firstFrameTime: 0,
    lastFrameTime: 0,
    frameIntervals: [],
    // Called after each drawing with the flip's number (1 for the first flip) and the canvas, while it shows it.
    onDraw: null,

    open: function(pixels, posted, drawn) {
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
        display.running = true;
        function frame(time) {
            if (!display.running)
                return;
            var ticket = Atomics.load(HEAPU32, posted >> 2);
            if (ticket !== Atomics.load(HEAPU32, drawn >> 2)) {
                image.data.set(HEAPU8.subarray(pixels, pixels + 640 * 480 * 4));
                context.putImageData(image, 0, 0);
                var now = performance.now();
                if (display.framesDrawn === 0)
                    display.firstFrameTime = now;
                else
                    display.frameIntervals.push(now - display.lastFrameTime);
                display.lastFrameTime = now;
                display.framesDrawn++;
                if (display.onDraw)
                    display.onDraw(ticket, canvas);
                Atomics.store(HEAPU32, drawn >> 2, ticket);
                Atomics.notify(HEAP32, drawn >> 2);
            }
            requestAnimationFrame(frame);
        }
        requestAnimationFrame(frame);
        return 0;
    },

    close: function() {
        this.running = false;
    }
};
Module["quimblesDisplay"] = QuimblesDisplay;
