// The page's side of the browser sound device (sound_web.cpp): a Web Audio node on the page's thread that asks the
// module for each block of 16-bit stereo frames and plays them. The audio context runs at 44100 Hz, the show's
// own rate; the page makes it in its click handler (Module.audioContext), where the browser lets sound start.
// Counters for the page and its checks: frames pulled, the device's underruns, the longest gap between pulls.
var QuimblesSound = {
    node: null,
    framesPulled: 0,
    underruns: 0,
    pulls: 0,
    lastPullTime: 0,
    longestGap: 0,
    // Called with each block as it goes out (16-bit stereo frames, left first), for checks of what is played.
    onBlock: null,

    open: function(block, blockFrames) {
        var AudioContextType = window.AudioContext || window.webkitAudioContext;
        if (!AudioContextType)
            return 1;
        var context = Module["audioContext"];
        if (!context) {
            try {
                context = Module["audioContext"] = new AudioContextType({sampleRate: 44100});
            } catch (e) {
                return 2;
            }
        }
        if (context.sampleRate !== 44100)
            return 3;
        var node = context.createScriptProcessor(blockFrames, 0, 2);
        var sound = this;
        node.onaudioprocess = function(event) {
            var left = event.outputBuffer.getChannelData(0);
            var right = event.outputBuffer.getChannelData(1);
            var frames = left.length;
            sound.underruns = Module["_QuimblesPullSound"](frames);
            var samples = HEAP16, base = block >> 1;
            if (sound.onBlock)
                sound.onBlock(samples.subarray(base, base + 2 * frames));
            for (var i = 0; i < frames; i++) {
                left[i] = samples[base + 2 * i] / 32768;
                right[i] = samples[base + 2 * i + 1] / 32768;
            }
            var now = performance.now();
            if (sound.pulls > 0 && now - sound.lastPullTime > sound.longestGap)
                sound.longestGap = now - sound.lastPullTime;
            sound.lastPullTime = now;
            sound.pulls++;
            sound.framesPulled += frames;
        };
        node.connect(context.destination);
        if (context.state !== "running")
            context.resume();
        sound.node = node;
        return 0;
    },

    close: function() {
        if (this.node) {
            this.node.onaudioprocess = null;
            this.node.disconnect();
            this.node = null;
        }
    }
};
Module["quimblesSound"] = QuimblesSound;
